#pragma once
// What a long operation needs from whoever watches its progress: one level of
// work opened with its number of steps, moved, and closed.

#include <cstdint>

class ProgressReceiver {
public:
    virtual ~ProgressReceiver() = default;
    // Opens a level of `count` steps; reports are held back for `delayMs`.
    virtual void begin(uint32_t count, uint32_t delayMs) = 0;
    // Moves the innermost level to `position`.
    virtual void update(uint32_t position) = 0;
    // Completes and closes the innermost level.
    virtual void end() = 0;
};

// Closes the level opened just before it on every way out of its scope,
// exceptions included. Does nothing without a receiver.
class ProgressScopeGuard {
public:
    explicit ProgressScopeGuard(ProgressReceiver* receiver) : receiver_(receiver) {}
    ~ProgressScopeGuard()
    {
        if (receiver_)
            receiver_->end();
    }
    ProgressScopeGuard(const ProgressScopeGuard&) = delete;
    ProgressScopeGuard& operator=(const ProgressScopeGuard&) = delete;

private:
    ProgressReceiver* receiver_;
};
