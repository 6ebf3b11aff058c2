#pragma once
// Where the deployment stage puts the boot files: onto the card's boot volume
// as the OS mounts it, or (for an image file) into the volume inside the image.
// The stage calls these in order and keeps the progress and failure rules.

#include "disk/partition_table.h"
#include "deploy/copy_directory.h"
#include "deploy/payload_sources.h"
#include "util/event_pump.h"

#include <utility>

class FileDeployer {
public:
    explicit FileDeployer(PayloadSources sources) : sources_(std::move(sources)) {}
    virtual ~FileDeployer() = default;

    // What is copied. The installation locates and checks the sources
    // before anything of the card is touched.
    PayloadSources& sources() { return sources_; }
    const PayloadSources& sources() const { return sources_; }
    // Kept alive through the copies and the flush.
    void setPump(EventPump& pump) { pump_ = &pump; }

    // Finds the boot volume of the card in drive `driveNumber`, which lies
    // where `boot` says. False when there is none (yet): the stage asks again
    // for a while, then fails.
    virtual bool findVolume(int driveNumber, const PartitionPlace& boot) = 0;
    // Makes the found volume's files reachable. False when they are not: the
    // copies are skipped and the stage fails.
    virtual bool openVolume() = 0;
    // The boot folder to \boot, then the firmware to \boot\bzImage, so that
    // the firmware replaces any bzImage the folder brought along.
    virtual bool copyBootFolder() = 0;
    virtual bool copyFirmware() = 0;
    // Ends the file access, whether openVolume succeeded or not. False, with a
    // debug line, when the copied files could not be made to reach the card.
    virtual bool closeVolume() = 0;
    // Whether the installation reads the payload back from the card's own
    // sectors once the volume is closed (install/card_readback.h).
    virtual bool readBackFromCard() const { return true; }

protected:
    EventPump& pump() const { return *pump_; }
    // Keeps the pump alive after each buffer of a copy.
    CopyPacer pacer() const {
        return [this] { pump_->keepAlive(); };
    }

private:
    PayloadSources sources_;
    EventPump* pump_ = &noEventPump();
};
