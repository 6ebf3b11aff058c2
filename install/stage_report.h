#pragma once
// What an installation stage reports to whoever shows it (the wizard's install
// page, or a console). Each show* call is one visible change: the implementer
// updates its display and then lets it repaint without taking user input.

#include "util/event_pump.h"

class StageReport : public EventPump {
public:
    // Sets the progress value and the status text (an untranslated source
    // text; the implementer translates it in its own context), then repaints.
    virtual void show(int value, const char* statusText) = 0;
    virtual void showValue(int value) = 0;
    virtual void showText(const char* statusText) = 0;
    // Clears the progress display (no progress shown), then repaints.
    virtual void resetProgress() = 0;
    // Marks the run as failed; never cleared.
    virtual void setFailed() = 0;
    virtual bool failed() const = 0;
};

// A report that shows nothing and only keeps whether the run failed: for
// benchmarks and checks that look at the card, not at the display.
class QuietStageReport final : public StageReport {
public:
    void show(int, const char*) override {}
    void showValue(int) override {}
    void showText(const char*) override {}
    void resetProgress() override {}
    void setFailed() override { failed_ = true; }
    bool failed() const override { return failed_; }

private:
    bool failed_ = false;
};
