#include "util/debug.h"

#include "platform/platform.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace {
constexpr int DEBUG_LINE_BYTES = 512;
std::atomic<DebugCopy> debugCopy{nullptr};
std::thread::id onlySpeaker;         // written once, before `quiet` is set
std::atomic<bool> quiet{false};

struct Transcript {
    std::mutex mutex;
    bool on = false;
    std::deque<std::string> lines;
};

// Never destroyed: debug lines may still come while statics are torn down.
Transcript& transcript() {
    static Transcript* const kept = new Transcript;
    return *kept;
}

void keepLine(const char* line) {
    Transcript& kept = transcript();
    std::lock_guard<std::mutex> lock(kept.mutex);
    if (!kept.on) return;
    kept.lines.emplace_back(line);
    if (kept.lines.size() > DEBUG_TRANSCRIPT_LINES) kept.lines.pop_front();
}
}  // namespace

void quietOtherThreads() {
    onlySpeaker = std::this_thread::get_id();
    quiet.store(true, std::memory_order_release);
}

void startDebugTranscript() {
    Transcript& kept = transcript();
    std::lock_guard<std::mutex> lock(kept.mutex);
    kept.on = true;
    kept.lines.clear();
}

std::vector<std::string> debugTranscript() {
    Transcript& kept = transcript();
    std::lock_guard<std::mutex> lock(kept.mutex);
    return std::vector<std::string>(kept.lines.begin(), kept.lines.end());
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
    keepLine(line);
    if (const DebugCopy copy = debugCopy.load()) copy(line);
}

void assertFailed(const std::string& text, int line, const char* file) {
    debugPrint("Error %s at line %d in file %s\n", text.c_str(), line, file);
    std::abort();
}
