#pragma once
// A stage report that passes everything on to the one that shows it and
// remembers how far the run got: the last stage text and value shown before
// the run failed. Read from other threads too (an interrupt), so it locks.

#include "install/stage_report.h"

#include <condition_variable>
#include <mutex>
#include <string>

class RunProgress final : public StageReport {
public:
    explicit RunProgress(StageReport& shown) : shown_(shown) {}

    void show(int value, const char* statusText) override;
    void showValue(int value) override;
    void showText(const char* statusText) override;
    void keepAlive() override { shown_.keepAlive(); }
    bool waitFor(const std::function<bool()>& call) override { return shown_.waitFor(call); }
    void resetProgress() override { shown_.resetProgress(); }
    void setFailed() override;
    bool failed() const override { return shown_.failed(); }

    // Whether a stage began: from its first text on, the card may have been written.
    bool started() const;
    // How far the run got, for the end of a sentence: ", at "Formatting data
    // partition..." (22%); the card is incomplete and must be rebuilt", or
    // ", before anything was written to it". `card` names what was written.
    std::string howFar(const std::string& card = "the card") const;
    // Where the run stopped, for a failure no cause explains: "\"Formatting
    // data partition...\" (22%)"; empty before any stage began.
    std::string stoppedAt() const;
    // The run is being given back after an interrupt: from its next report on
    // it waits for the process to end, and writes nothing more to the card.
    void halt();

private:
    void note(int value, const char* statusText);

    StageReport& shown_;
    mutable std::mutex mutex_;
    bool frozen_ = false;  // after the failure: the final texts say nothing of progress
    bool halted_ = false;
    std::condition_variable never_;
    int value_ = 0;
    std::string text_;
};
