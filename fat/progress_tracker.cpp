#include "fat/progress_tracker.h"

#include <chrono>
#include <utility>

int64_t steadyClockNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ProgressTracker::ProgressTracker(ProgressCallback progress, ShowCallback show, void* user,
                                 MonotonicClock clock)
    : progressCallback(progress), showCallback(show), userData(user), clock_(std::move(clock))
{
}

bool ProgressTracker::withinDelay() const
{
    return delayMs > 0 && clock_() - startTime < delayMs * 1000000;
}

void ProgressTracker::callShow()
{
    if (showCallback)
        showCallback(&showArgs[0], &showArgs[1], userData);
}

void ProgressTracker::report()
{
    if (!levels.empty() && withinDelay())
        return;
    // showPending stays set: after the delay the owner is asked to show again
    // before every report.
    if (showPending && !showSuppressed && !withinDelay())
        callShow();

    // Unsigned 32-bit arithmetic that wraps, as the figure is only a ratio.
    uint32_t done = 0;
    uint32_t total = 1;
    for (const ProgressLevel& level : levels) {
        done *= level.count;
        total *= level.count;
        if (level.position == level.count) {
            done += level.count;  // a finished level hides the ones inside it
            break;
        }
        done += level.position;
    }
    // The ends of a nested level are not the ends of the whole work.
    if ((done != 0 && done != total) || levels.size() <= 1)
        progressCallback(done, total, userData);
}

void ProgressTracker::begin(uint32_t count, uint32_t delay)
{
    if (!progressCallback)
        return;
    levels.push_back(ProgressLevel{0, count});
    if (levels.size() != 1)
        return;
    delayMs = delay;
    startTime = clock_();
    report();
    if (showCallback && !showSuppressed) {
        if (withinDelay())
            showPending = true;
        else
            callShow();
    }
}

void ProgressTracker::update(uint32_t position)
{
    if (!progressCallback || position == 0 || levels.empty())
        return;
    ProgressLevel& level = levels.back();
    if (position >= level.count)
        return;  // only end completes a level
    level.position = position;
    report();
}

void ProgressTracker::end()
{
    if (!progressCallback || levels.empty())
        return;
    levels.back().position = levels.back().count;
    report();
    levels.pop_back();
}
