#pragma once
// Keeps a display alive through long work. Whoever shows progress (the
// wizard's install page) implements it; work below the installation takes it
// without knowing what it shows.

#include <functional>

class EventPump {
public:
    virtual ~EventPump() = default;
    // Long work with nothing new to show calls this often: the implementer
    // lets its display repaint, at a rate of its own choosing.
    virtual void keepAlive() {}
    // Runs one call that may block for long (a device flush) and returns its
    // result. An implementer that repaints meanwhile runs the call on another
    // thread, so the call must touch nothing of the display and must read
    // any error code of its own calls itself. By default it runs right here.
    virtual bool waitFor(const std::function<bool()>& call) { return call(); }
};

// A pump that keeps nothing alive, for work with no display.
EventPump& noEventPump();
