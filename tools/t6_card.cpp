// t6-card: prepares card images and checks cards from the command line, with
// the same stages as the recovery wizard.

#include "tools/card_commands.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return runCard(arguments, std::cout, std::cerr);
}
