#pragma once
// The waits between the installation's tries: timed by the platform's clock
// and spent in short sleeps, with the display kept alive in between, so that
// the window repaints while a run waits (user input stays excluded).

#include "install/stage_report.h"

#include <cstdint>

class RetryWait {
public:
    // No report: nothing to keep alive (a console run).
    explicit RetryWait(StageReport* report = nullptr) : report_(report) {}

    uint64_t now() const;
    // Passes `milliseconds`, keeping the display alive at least every
    // KEEP_ALIVE_STEP_MS.
    void pause(uint32_t milliseconds);

    static constexpr uint32_t KEEP_ALIVE_STEP_MS = 20;

private:
    StageReport* report_;
};
