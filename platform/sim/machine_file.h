#pragma once
// A simulated machine described in a JSON file, for the demo and the tests:
//
//   { "drives": [ { "number": 1, "image": "card.img", "vendor": "Kestrel ",
//                   "product": "CF Reader", "heads": 255, "sectorsPerTrack": 63,
//                   "removable": true, "media": true, "writeProtected": false,
//                   "writeDelayMs": 0, "busyForMs": 0,
//                   "dropsWritesFrom": 0, "dropsWritesSectors": 0, "sharedHoldMs": 0,
//                   "mediaChanges": [ { "atMs": 500, "media": true, "image": "c2.img",
//                                       "writeProtected": false } ],
//                   "afterRepartition": { ...as the machine's own below... } } ],
//     "volumes": [ { "letter": "E", "folder": "volE", "drive": 1,
//                    "startSector": 63, "sectors": 512000, "heldOpen": false } ],
//     "afterRepartition": { "arriveAfterMs": 0, "letters": ["E", "F"],
//                           "folders": ["boot", "data"], "staleForMs": 0 },
//     "autopilotDrive": 1,
//     "unlockAfterVanishFails": false, "remountAfterDismountMs": 0,
//     "newVolumesGetLetters": true, "slowLetters": ["Z"] }
//
// Only "drives" with each drive's "number" and "image" must be given; the rest
// has the defaults of SimDrive, SimVolume and SimChoices. A drive's
// "mediaChanges" (each with "atMs" and "media"; listed in the order of their
// times) take its medium out or put one in at that moment of the machine's
// clock; "image" gives the new medium's bytes from then on, "writeProtected"
// its protection, and each change counts in the drive's MediaChangeCount
// (IOCTL_STORAGE_CHECK_VERIFY2). A drive's "afterRepartition" takes the place
// of the machine's for that drive, so that cards rebuilt side by side get
// folders of their own; an arriving volume's folder starts empty. The clock
// starts with the machine unless SimPlatform::setStartMs gives its time 0
// (simSteadyNowMs in sim_platform.h: one clock for all processes). A volume's "letter" may be ""
// (mounted without a letter); "sectors" 0 follows the drive's first partition.
// Paths are relative to the file's folder. Images must exist; a missing
// volume folder is made, empty.

#include "platform/sim_platform.h"

#include <string>

namespace platform {

struct SimMachineFile {
    // The drive the demo's autopilot picks; -1: the first drive listed.
    int autopilotDrive = -1;
    int firstDrive = -1;
};

// Builds the machine the file describes into `sim`. False with `error` saying
// what is wrong; an unknown key is named with where it stands.
bool loadSimMachine(const std::string& path, SimPlatform& sim, SimMachineFile& machine,
                    std::string& error);

}  // namespace platform
