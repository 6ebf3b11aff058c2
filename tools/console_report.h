#pragma once
// The install stages' progress and status texts on a console: one line per
// status text, carrying the progress value it was shown with.

#include "install/stage_report.h"

#include <ostream>

constexpr int NO_PROGRESS = -1;

class ConsoleReport : public StageReport {
public:
    explicit ConsoleReport(std::ostream& out) : out_(out) {}

    void show(int value, const char* statusText) override;
    // A value alone is remembered and appears with the next status text: the
    // boot loader stage moves it once per sector, which would flood a log.
    void showValue(int value) override;
    void showText(const char* statusText) override;
    void resetProgress() override;
    void setFailed() override { failed_ = true; }
    bool failed() const override { return failed_; }

    int value() const { return value_; }

private:
    std::ostream& out_;
    int value_ = NO_PROGRESS;
    bool failed_ = false;
};
