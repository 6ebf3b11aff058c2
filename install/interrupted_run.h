#pragma once
// What an installation holds while it runs (the drive, the card's locked
// volumes, the backend's private mounts) and how far it got, recorded so that
// a request to end the process in the middle of it (Ctrl-C, SIGTERM, a closed
// terminal or session) can give everything back before the process ends.

#include "install/run_progress.h"
#include "install/volume_lockout.h"
#include "platform/platform.h"

#include <string>

// The run under way, for as long as the object lives; one at a time.
class InterruptibleRun {
public:
    explicit InterruptibleRun(RunProgress& progress);
    ~InterruptibleRun();
    InterruptibleRun(const InterruptibleRun&) = delete;
    InterruptibleRun& operator=(const InterruptibleRun&) = delete;
};

// Called by the holder when it takes or gives back the drive and the volumes.
// Giving back goes through the registry first, so that an interrupt never
// releases them a second time.
void holdRunDrive(platform::Handle drive);
void dropRunDrive();
void holdRunVolumes(KeptVolumes* volumes);
void dropRunVolumes();

// On the interrupt thread, just before the process ends: releases the drive,
// unlocks the volumes, syncs and takes away the private mounts, and returns
// the one line for the user. Nothing is done, and the line is empty, when no
// InterruptibleRun is under way (a run on an image file). Everything
// stays locked afterwards, so the interrupted run cannot take anything again.
std::string giveBackInterruptedRun();

// For programs that end on an interrupt with nothing else to clean up (the
// wizard): installs a handler that gives the run back, writes the line to the
// debug channel and ends the process with 128 + the signal.
void endRunOnInterrupt();
