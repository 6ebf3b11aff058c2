#include "tools/console_report.h"

#include "platform/interrupts.h"

#include <iomanip>

void ConsoleReport::show(int value, const char* statusText) {
    value_ = value;
    showText(statusText);
}

void ConsoleReport::showValue(int value) {
    value_ = value;
}

void ConsoleReport::showText(const char* statusText) {
    if (value_ == NO_PROGRESS)
        out_ << "[    ] ";
    else
        out_ << '[' << std::setw(3) << value_ << "%] ";
    out_ << statusText << std::endl;
    // A line into a closed pipe raised SIGPIPE: the run goes no further than
    // that, as the signal would have it.
    platform::waitForArrivedInterrupt();
}

void ConsoleReport::resetProgress() {
    value_ = NO_PROGRESS;
}
