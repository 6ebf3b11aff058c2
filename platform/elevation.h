#pragma once
// Administrator rights for raw drive access. Windows asks for them before the
// program starts (the executable's manifest); elsewhere the program asks at
// run time by starting an elevated copy of itself.

namespace platform {

// True when this process lacks the rights and can ask for them at run time.
bool needsElevation();

// Starts an elevated copy of this program with the same arguments, working
// directory and display, and waits for it to end. True when the copy ran:
// `exitCode` then holds its result. False when elevation was refused or is
// not available; this process then goes on without the rights.
bool runElevatedCopy(int argc, char** argv, int* exitCode);

}  // namespace platform
