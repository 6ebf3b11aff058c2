#include "util/debug.h"

#include "platform/platform.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {
constexpr int DEBUG_LINE_BYTES = 512;
std::atomic<DebugCopy> debugCopy{nullptr};
std::thread::id onlySpeaker;         // written once, before `quiet` is set
std::atomic<bool> quiet{false};
}  // namespace

void quietOtherThreads() {
    onlySpeaker = std::this_thread::get_id();
    quiet.store(true, std::memory_order_release);
}

DebugCopy setDebugCopy(DebugCopy copy) {
    return debugCopy.exchange(copy);
}

void debugPrint(const char* format, ...) {
    if (quiet.load(std::memory_order_acquire) && std::this_thread::get_id() != onlySpeaker) return;
    char line[DEBUG_LINE_BYTES];
    va_list args;
    va_start(args, format);
    // vsnprintf cuts an over-long line and always terminates inside the buffer.
    int written = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (written < 0) line[0] = '\0';
    platform::os().OutputDebugStringA(line);
    if (const DebugCopy copy = debugCopy.load()) copy(line);
}

void assertFailed(const std::string& text, int line, const char* file) {
    debugPrint("Error %s at line %d in file %s\n", text.c_str(), line, file);
    std::abort();
}
