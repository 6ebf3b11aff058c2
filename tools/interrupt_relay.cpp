#include "tools/interrupt_relay.h"

#include "platform/interrupts.h"
#include "tools/os_services.h"

#include <condition_variable>
#include <mutex>
#include <set>

namespace {

std::mutex relayMutex;
std::condition_variable relayShown;
std::set<int64_t> children;
int interruptStatus = 0;
bool everythingShown = false;

// On the interrupt's own thread: the process ends when this returns.
void relayInterrupt(int exitStatus) {
    std::unique_lock<std::mutex> lock(relayMutex);
    interruptStatus = exitStatus;
    for (const int64_t pid : children) interruptProcess(pid, exitStatus);
    relayShown.wait(lock, [] { return everythingShown; });
}

}  // namespace

InterruptRelay::InterruptRelay() {
    platform::onInterrupt(relayInterrupt);
}

InterruptRelay::~InterruptRelay() {
    finish();
}

void InterruptRelay::add(int64_t pid) {
    std::lock_guard<std::mutex> lock(relayMutex);
    children.insert(pid);
    if (interruptStatus != 0) interruptProcess(pid, interruptStatus);
}

void InterruptRelay::remove(int64_t pid) {
    std::lock_guard<std::mutex> lock(relayMutex);
    children.erase(pid);
}

bool InterruptRelay::interrupted() const {
    std::lock_guard<std::mutex> lock(relayMutex);
    return interruptStatus != 0;
}

void InterruptRelay::finish() {
    {
        std::lock_guard<std::mutex> lock(relayMutex);
        everythingShown = true;
    }
    relayShown.notify_all();
    platform::waitForArrivedInterrupt();
}
