#pragma once
// Combines nested levels of work into one done/total figure for a callback,
// holding reports back until a start delay has passed.

#include "fat/progress_receiver.h"

#include <cstdint>
#include <functional>
#include <vector>

struct ProgressLevel {
    uint32_t position = 0;  // steps done, 0 to count
    uint32_t count = 0;     // steps of this level
};

// Nanoseconds of a monotonic clock; only differences matter.
using MonotonicClock = std::function<int64_t()>;
int64_t steadyClockNanoseconds();

class ProgressTracker : public ProgressReceiver {
public:
    using ProgressCallback = void (*)(uint32_t done, uint32_t total, void* userData);
    using ShowCallback = void (*)(uint32_t* firstShowArg, uint32_t* secondShowArg,
                                  void* userData);

    // Without a progress callback the tracker does nothing at all.
    explicit ProgressTracker(ProgressCallback progress = nullptr, ShowCallback show = nullptr,
                             void* user = nullptr,
                             MonotonicClock clock = steadyClockNanoseconds);

    void begin(uint32_t count, uint32_t delay) override;
    void update(uint32_t position) override;
    void end() override;

    ProgressCallback progressCallback;
    ShowCallback showCallback;
    void* userData;
    std::vector<ProgressLevel> levels;  // outermost first
    // Belong to the tracker's owner: only their addresses reach showCallback.
    uint32_t showArgs[2] = {0, 0};
    bool showSuppressed = false;
    int64_t startTime = 0;  // clock nanoseconds when the outermost level opened
    int64_t delayMs = 0;
    bool showPending = false;  // once the delay is over, show before every report

private:
    bool withinDelay() const;
    void callShow();
    void report();

    MonotonicClock clock_;
};
