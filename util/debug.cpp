#include "util/debug.h"

#include "platform/platform.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int DEBUG_LINE_BYTES = 512;
std::atomic<DebugCopy> debugCopy{nullptr};
}  // namespace

DebugCopy setDebugCopy(DebugCopy copy) {
    return debugCopy.exchange(copy);
}

void debugPrint(const char* format, ...) {
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
