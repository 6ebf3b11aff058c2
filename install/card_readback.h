#pragma once
// The payload compared with the card itself once the boot volume has been
// flushed and given back: the card's sectors are read through the drive with
// no system cache in between, so a card that lost or misplaced writes is
// found, which a read through the mounted file system (served from the OS's
// cache) would miss.

#include "deploy/payload_sources.h"
#include "install/install_target.h"

#include <string>

enum class ReadBack {
    Same,        // every payload file is on the card, byte for byte
    Differs,     // `finding` says the first difference
    Unreadable,  // the drive could not be opened or measured (a debug line says why)
};

// Opens the target's drive for reading only, sharing it with the OS (its
// volumes are mounted again by now), unbuffered.
ReadBack readPayloadBack(const InstallTarget& target, const PayloadSources& sources,
                         std::string& finding);
