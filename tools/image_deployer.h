#pragma once
// The deployment into a card image file: the boot folder and the firmware go
// into the FAT volume of partition 0 with mtools' mcopy, which needs neither
// root nor a FAT driver. The files are gathered with the deployment's own
// copier first, so the same rules hold (entries whose name starts with a dot
// stay behind). The run's own files (the image, its lock, its temporary) stay
// behind too when they lie inside the boot folder.

#include "deploy/file_deployer.h"
#include "tools/interrupt_cleanup.h"

#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class ImageDeployer final : public FileDeployer {
public:
    // Reasons for a failure go to `err`, naming the image as `imageName` (the
    // user's name for it, where it is built under another). `runFiles` are the
    // paths this run writes, never copied onto the card.
    ImageDeployer(std::string imagePath, std::string imageName, PayloadSources sources,
                  std::ostream& err, std::vector<std::string> runFiles = {});
    ~ImageDeployer() override;

    // The boot volume is the one partition entry 0 of the image's MBR points at.
    bool findVolume(int driveNumber, const PartitionPlace& boot) override;
    bool openVolume() override;
    bool copyBootFolder() override;
    bool copyFirmware() override;
    bool closeVolume() override;
    // The run's own files (the image, its lock, its build file) may lie
    // inside the payload and are left out of the copy, which the whole
    // payload read back would count as missing.
    bool readBackFromCard() const override { return false; }

private:
    bool mcopy(const QStringList& arguments, const std::string& what);

    std::string imagePath_;
    std::string imageName_;
    std::ostream& err_;
    std::vector<std::string> runFiles_;
    // The firmware goes into the boot folder: without it, its copy fails too
    // and would only add a second message for the same fault.
    bool bootFolderCopied_ = false;
    uint32_t partitionStart_ = 0;
    std::unique_ptr<QTemporaryDir> staging_;
    std::unique_ptr<InterruptPath> stagingCleanup_;  // removed too when interrupted
};

// True when mcopy can be started.
bool haveMcopy();
