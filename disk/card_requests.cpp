#include "disk/card_requests.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0;
    bool stopped = false;
    std::thread::id stopper;
};

Gate& gate() {
    static Gate instance;
    return instance;
}

// With the gate's mutex held: waits for good when requests are stopped.
void holdIfStopped(Gate& g, std::unique_lock<std::mutex>& lock) {
    if (g.stopped && std::this_thread::get_id() != g.stopper)
        g.changed.wait(lock, [] { return false; });
}

}  // namespace

CardRequest::CardRequest() {
    Gate& g = gate();
    std::unique_lock<std::mutex> lock(g.mutex);
    holdIfStopped(g, lock);
    ++g.inFlight;
}

CardRequest::~CardRequest() {
    Gate& g = gate();
    std::lock_guard<std::mutex> lock(g.mutex);
    --g.inFlight;
    g.changed.notify_all();
}

bool stopCardRequests(uint32_t waitMs) {
    Gate& g = gate();
    std::unique_lock<std::mutex> lock(g.mutex);
    g.stopped = true;
    g.stopper = std::this_thread::get_id();
    return g.changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [&g] { return g.inFlight == 0; });
}

void holdIfCardRequestsStopped() {
    Gate& g = gate();
    std::unique_lock<std::mutex> lock(g.mutex);
    holdIfStopped(g, lock);
}
