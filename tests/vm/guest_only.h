#pragma once
// The programs of the virtual-machine test rewrite real drives. They run only
// in the test's guest, whose kernel command line carries this word.

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

inline bool inTestGuest() {
    std::ifstream file("/proc/cmdline");
    std::stringstream words;
    words << file.rdbuf();
    std::string word;
    while (words >> word)
        if (word == "zel_vm_guest") return true;
    std::fprintf(stderr, "refused: this program runs only in the virtual-machine test's guest\n");
    return false;
}
