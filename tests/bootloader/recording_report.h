#pragma once
// A stage report that keeps every call, to check what a stage showed.

#include "install/stage_report.h"

#include <string>
#include <vector>

class RecordingReport : public StageReport {
public:
    struct Event {
        enum Kind { Show, Value, Text, Reset } kind;
        int value;
        std::string text;
    };

    void show(int value, const char* statusText) override {
        events.push_back({Event::Show, value, statusText});
    }
    void showValue(int value) override { events.push_back({Event::Value, value, ""}); }
    void showText(const char* statusText) override {
        events.push_back({Event::Text, 0, statusText});
    }
    void resetProgress() override { events.push_back({Event::Reset, 0, ""}); }
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

    std::vector<Event> events;

private:
    bool failed_ = false;
};
