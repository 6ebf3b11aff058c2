#pragma once
// What t6-card --help prints after the usage summary: each command and each
// option in a sentence or two, the log, the exit status and an example. The
// manual page is made from the whole --help text.

// The text after cardUsage() in --help.
const char* cardHelpDetails();
