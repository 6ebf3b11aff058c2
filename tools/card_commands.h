#pragma once
// The commands of t6-card. Each returns the process exit status.

#include "tools/card_options.h"

#include <ostream>
#include <string>
#include <vector>

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// Parses `arguments` (without the program name) and runs the command. Results
// and stage texts go to `out`; errors, as plain sentences, to `err`. Drives are
// reached through the backend in force; image files through a simulated
// machine of their own.
int runCard(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

int runCardCommand(const CardOptions& options, std::ostream& out, std::ostream& err);

// The boot folder and firmware of `options` are there and hold the boot
// files; they become the paths where they were found. The reason goes to `err`.
bool checkCardSources(CardOptions& options, std::ostream& err);
