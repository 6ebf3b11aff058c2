#pragma once
// The output file of `image`. The card is built under a temporary name in the
// output's folder and renamed into place only once the build succeeded, so the
// run never truncates or removes anything it did not create: an existing
// output is replaced only when asked (and only when it is a regular file), a
// concurrent run on the same output is refused by a lock, and a failed or
// interrupted build leaves nothing behind.

#include "tools/image_lock.h"
#include "tools/interrupt_cleanup.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

class ImageOutput {
public:
    ImageOutput(const std::string& path, bool replace);
    // Removes the temporary file unless it was put in place.
    ~ImageOutput();
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;

    // Checks the output path, takes the lock and creates the temporary file,
    // sparse, `bytes` long. Reasons for a refusal go to `err`.
    bool create(uint64_t bytes, std::ostream& err);
    // Where the card is built.
    const std::string& buildPath() const { return temporary_; }
    // Renames the temporary file to the output path.
    bool commit(std::ostream& err);
    // Removes the temporary file; says on `err` what became of it.
    void discard(std::ostream& err);

private:
    bool checkTarget(std::ostream& err) const;

    std::string path_;
    bool replace_;
    std::string temporary_;
    ImageLock lock_;
    std::unique_ptr<InterruptPath> temporaryCleanup_;
};
