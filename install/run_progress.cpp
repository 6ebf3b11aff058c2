#include "install/run_progress.h"

void RunProgress::note(int value, const char* statusText) {
    std::unique_lock<std::mutex> lock(mutex_);
    never_.wait(lock, [this] { return !halted_; });
    if (frozen_) return;
    if (value >= 0) value_ = value;
    if (statusText != nullptr) text_ = statusText;
}

void RunProgress::show(int value, const char* statusText) {
    note(value, statusText);
    shown_.show(value, statusText);
}

void RunProgress::showValue(int value) {
    note(value, nullptr);
    shown_.showValue(value);
}

void RunProgress::showText(const char* statusText) {
    note(-1, statusText);
    shown_.showText(statusText);
}

void RunProgress::setFailed() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // A halted run's failure is the interrupt's doing: it is not shown.
        never_.wait(lock, [this] { return !halted_; });
        frozen_ = true;
    }
    shown_.setFailed();
}

void RunProgress::halt() {
    std::lock_guard<std::mutex> lock(mutex_);
    halted_ = true;
}

bool RunProgress::started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !text_.empty();
}

std::string RunProgress::howFar(const std::string& card) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (text_.empty()) return ", before anything was written to it";
    return ", at \"" + text_ + "\" (" + std::to_string(value_) + "%); " + card +
           " is incomplete and must be rebuilt";
}

std::string RunProgress::stoppedAt() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (text_.empty()) return std::string();
    return "\"" + text_ + "\" (" + std::to_string(value_) + "%)";
}
