#include "tools/image_output.h"

#include "platform/interrupts.h"
#include "tools/os_services.h"

#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

ImageOutput::ImageOutput(const std::string& path, bool replace) : path_(path), replace_(replace) {}

ImageOutput::~ImageOutput() {
    if (!temporary_.empty()) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
}

// A symbolic link counts as what it is, not as what it points to.
bool ImageOutput::checkTarget(std::ostream& err) const {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path_, error);
    if (status.type() == fs::file_type::not_found) return true;
    if (error) {
        err << "The image file " << path_ << " cannot be looked at: " << error.message() << "."
            << std::endl;
        return false;
    }
    if (!fs::is_regular_file(status)) {
        err << path_ << " exists and is not an image file; it is left alone." << std::endl;
        return false;
    }
    if (!replace_) {
        err << path_ << " exists; it is left alone (--force replaces an image file)." << std::endl;
        return false;
    }
    return true;
}

bool ImageOutput::create(uint64_t bytes, std::ostream& err) {
    if (!checkTarget(err)) return false;
    if (!lock_.take(path_, err)) return false;

    // Beside the output, so that the final rename stays on one file system.
    const fs::path output(path_);
    const fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
    QTemporaryFile file(QString::fromStdString(
        (folder / ("." + output.filename().string() + ".XXXXXX.partial")).string()));
    file.setAutoRemove(false);
    if (!file.open()) {
        err << "The image file " << path_ << " cannot be created: "
            << file.errorString().toStdString() << "." << std::endl;
        return false;
    }
    temporary_ = file.fileName().toStdString();
    std::error_code error;
    file.close();
    temporaryCleanup_ = std::make_unique<InterruptPath>(temporary_);
    // QTemporaryFile makes it private to its owner; an image is an ordinary file.
    fs::permissions(temporary_, fs::perms::owner_read | fs::perms::owner_write |
                                    fs::perms::group_read | fs::perms::others_read,
                    error);
    fs::resize_file(temporary_, bytes, error);
    if (error) {
        err << "The image file " << path_ << " cannot be made " << bytes
            << " bytes long: " << error.message() << "." << std::endl;
        return false;
    }
    return true;
}

bool ImageOutput::commit(std::ostream& err) {
    // An interrupt that has arrived removes the unfinished image: it must not
    // be put in place first.
    platform::waitForArrivedInterrupt();
    // The output may have appeared or changed while the card was built.
    if (!checkTarget(err)) return false;
    std::string reason;
    bool renamed = false;
    std::error_code error;
    if (fs::exists(fs::symlink_status(path_, error))) {
        // Replacing only ever swaps the directory entry of a regular file.
        fs::rename(temporary_, path_, error);
        renamed = !error;
        reason = error.message();
    } else {
        renamed = renameNoReplace(temporary_, path_, reason);
    }
    if (!renamed) {
        err << "The image could not be put in place as " << path_ << ": " << reason << "."
            << std::endl;
        return false;
    }
    temporaryCleanup_.reset();
    temporary_.clear();
    return true;
}

void ImageOutput::discard(std::ostream& err) {
    if (temporary_.empty()) return;
    std::error_code error;
    fs::remove(temporary_, error);
    if (error)
        err << "The unfinished image " << temporary_ << " could not be removed: "
            << error.message() << "." << std::endl;
    else
        temporary_.clear();
}
