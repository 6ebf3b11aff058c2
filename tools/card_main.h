#pragma once
// t6-card's whole run from its arguments (without the program name): the
// log, the command, the exit status.

#include <string>
#include <vector>

int cardMain(std::vector<std::string> arguments);
