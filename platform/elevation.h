#pragma once
// Administrator rights for raw drive access. Windows asks for them before the
// program starts (the executable's manifest); elsewhere the program asks at
// run time by starting an elevated copy of itself.

namespace platform {

// True when this process lacks the rights and can ask for them at run time.
bool needsElevation();

// How the request for an elevated copy ended.
enum class Elevation {
    Ran,            // the copy ran; its exit code is given back
    NoHelper,       // nothing to ask with (no pkexec), or it could not start
    NoAgent,        // no authentication agent could ask the user
    Dismissed,      // the user dismissed the request
    NotAuthorized,  // the user was refused (wrong password, the system's policy)
};

// Starts an elevated copy of this program with the same arguments, working
// directory and display, and waits for it to end. When the copy ran,
// `exitCode` holds its result; otherwise it is left alone.
Elevation runElevatedCopy(int argc, char** argv, int* exitCode);

}  // namespace platform
