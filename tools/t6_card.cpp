// t6-card: prepares card images and checks cards from the command line, with
// the same stages as the recovery wizard.

#include "tools/card_main.h"

int main(int argc, char** argv) {
    return cardMain(std::vector<std::string>(argv + 1, argv + argc));
}
