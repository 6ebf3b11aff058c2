#pragma once
// A StageReport that remembers every visible change, for checking what the
// install page would have shown.

#include "install/stage_report.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

// The bar value (-1: no progress shown) and the status text after one change.
struct Shown {
    int value;
    std::string text;
    bool operator==(const Shown& other) const { return value == other.value && text == other.text; }
};

inline void PrintTo(const Shown& shown, std::ostream* out) {
    *out << "{" << shown.value << ", \"" << shown.text << "\"}";
}

class RecordingReport : public StageReport {
public:
    std::vector<Shown> history;
    int value = -1;
    std::string text;
    bool isFailed = false;
    // Called after each change, with the text then shown; tests use it to
    // inject a fault at a given point of the run.
    std::function<void(const std::string&)> onChange;

    void show(int newValue, const char* statusText) override {
        value = newValue;
        text = statusText;
        changed();
    }
    void showValue(int newValue) override {
        value = newValue;
        changed();
    }
    void showText(const char* statusText) override {
        text = statusText;
        changed();
    }
    void resetProgress() override {
        value = -1;
        changed();
    }
    void setFailed() override { isFailed = true; }
    bool failed() const override { return isFailed; }

private:
    void changed() {
        history.push_back({value, text});
        if (onChange) onChange(text);
    }
};
