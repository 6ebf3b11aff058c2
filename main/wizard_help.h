#pragma once
// The wizard's answers to --help and --version, given before any window, any
// elevation and any log: the manual page is made from them.

#include <string>

// The text --help prints.
std::string wizardHelp();

// With --help or --version as the only argument: prints the answer to
// standard output and gives the exit status. -1 for any other command line,
// which then starts the wizard as always (toolkit options included).
int answerInfoOption(int argc, char** argv);
