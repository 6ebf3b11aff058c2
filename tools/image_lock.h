#pragma once
// The lock of a card image file (IMAGE.lock beside it), held by `image` while
// it builds the file and by `install` while it rewrites it: two runs writing
// one image at once would interleave their writes and damage the card. A
// lock counts as stale only when its process has gone, never by age; it is
// removed when the run ends, interrupted too.

#include "tools/interrupt_cleanup.h"

#include <QLockFile>

#include <memory>
#include <ostream>
#include <string>

class ImageLock {
public:
    // The lock file's path for an image.
    static std::string pathFor(const std::string& imagePath);

    // Takes the lock of `imagePath`; says on `err` why not when another run
    // holds it or it cannot be made.
    bool take(const std::string& imagePath, std::ostream& err);
    // After a refused take: another run holds the lock (rather than the lock
    // file not being possible at all).
    bool heldByAnother() const { return heldByAnother_; }

private:
    bool heldByAnother_ = false;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<InterruptPath> cleanup_;
};
