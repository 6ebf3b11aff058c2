#pragma once
// The drive or image a command works on, and the checks before it is touched.

#include "install/install_target.h"
#include "platform/platform.h"
#include "tools/card_options.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

// Turns a drive named by its device path into its drive number. False, with
// the reason on `err`, for a partition, a loop device without --allow-loop or
// a path that names no drive. Options without a device path pass unchanged.
bool resolveDevicePath(CardOptions& options, std::ostream& err);

// The target of a command: an image file checked to exist (its simulated
// machine then in force), or a drive of the backend in force.
std::unique_ptr<InstallTarget> makeTarget(const CardOptions& options, std::ostream& err);

// An image argument is usable when it names an existing regular file; the
// reason goes to `err` otherwise. Block devices are reached by drive number.
bool checkImageFile(const std::string& path, std::ostream& err);

// An image about to be written: an image file as above that this process may
// write and whose sectors the raw disk layer can number (below 2^32). The
// reason goes to `err` otherwise, naming the file.
bool checkImageForWriting(const std::string& path, std::ostream& err);

// The file system's refusal of an image write, as a sentence naming the image
// as `name`: a full file system or the process's file size limit. Nothing for
// other failures, whose debug lines say enough.
void explainImageWriteError(const ImageTarget& image, const std::string& name, std::ostream& err);

// Refuses a drive that cannot be opened or (with `requireRemovable`) whose
// media are not removable, as told by the drive's hot-plug record. Opens for
// reading only and closes again.
bool checkRemovableDrive(int driveNumber, bool requireRemovable, std::ostream& err);

// Opens the target for reading only (sharing it with others) and gives its
// size in sectors; nothing is locked or written. Close with closeForReading.
bool openForReading(const InstallTarget& target, platform::Handle& handle, uint64_t& diskSectors);
void closeForReading(platform::Handle handle);
