#pragma once
// A StageReport that keeps every call and every visible change, for checking
// what a stage or a whole run would have shown.

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
    struct Event {
        enum Kind { Show, Value, Text, Reset } kind;
        int value;
        std::string text;
    };

    std::vector<Event> events;   // every call, as made
    std::vector<Shown> history;  // the display after each call
    // Called after each change, with the text then shown; tests use it to
    // inject a fault at a given point of the run.
    std::function<void(const std::string&)> onChange;

    void show(int value, const char* statusText) override {
        value_ = value;
        text_ = statusText;
        changed({Event::Show, value, statusText});
    }
    void showValue(int value) override {
        value_ = value;
        changed({Event::Value, value, ""});
    }
    void showText(const char* statusText) override {
        text_ = statusText;
        changed({Event::Text, 0, statusText});
    }
    void resetProgress() override {
        value_ = -1;
        changed({Event::Reset, 0, ""});
    }
    void setFailed() override { failed_ = true; }
    bool failed() const override { return failed_; }

    // Every progress value shown, in order.
    std::vector<int> values() const {
        std::vector<int> result;
        for (const Event& event : events)
            if (event.kind == Event::Show || event.kind == Event::Value) result.push_back(event.value);
        return result;
    }
    // Every status text shown, in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const Event& event : events)
            if (event.kind == Event::Show || event.kind == Event::Text) result.push_back(event.text);
        return result;
    }

private:
    void changed(Event event) {
        events.push_back(std::move(event));
        history.push_back({value_, text_});
        if (onChange) onChange(text_);
    }

    int value_ = -1;
    std::string text_;
    bool failed_ = false;
};
