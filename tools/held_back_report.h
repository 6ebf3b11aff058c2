#pragma once
// A console report that holds back the closing success line of a run until
// the caller has made the result real (an image renamed into place): a run
// whose result then cannot be kept must not have said "Finished successfully".

#include "tools/console_report.h"

#include <string>

class HeldBackReport : public ConsoleReport {
public:
    HeldBackReport(std::ostream& out, int finalValue) : ConsoleReport(out), finalValue_(finalValue) {}

    void show(int value, const char* statusText) override {
        if (value == finalValue_ && !failed()) {
            held_ = true;
            heldText_ = statusText;
            return;
        }
        ConsoleReport::show(value, statusText);
    }

    // Shows the held-back line, if any.
    void release() {
        if (held_) ConsoleReport::show(finalValue_, heldText_.c_str());
        held_ = false;
    }

private:
    int finalValue_;
    bool held_ = false;
    std::string heldText_;
};
