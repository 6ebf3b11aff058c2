// The installation as the install page runs it, on one drive of the guest
// through the native backend, with the stage texts on the console. Run from
// the folder that holds files/boot and firmware/t6-board.fw.
//
// Usage: vm_install DRIVE_NUMBER   (exit 0: finished successfully, 1: failed)
#include "guest_only.h"
#include "install/installation.h"
#include "tools/console_report.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vm_install DRIVE_NUMBER\n";
        return 2;
    }
    if (!inTestGuest()) return 2;
    ConsoleReport report(std::cout);
    char drivePath[DRIVE_PATH_CHARS] = {};
    CardInstallation().run(report, std::atoi(argv[1]), drivePath);
    std::cout << drivePath << (report.failed() ? ": failed" : ": finished") << std::endl;
    return report.failed() ? 1 : 0;
}
