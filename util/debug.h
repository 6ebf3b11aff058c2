#pragma once
// The one diagnostic channel: single narrow lines to the OS debug output
// (standard error where there is no debugger channel), and the invariant check.

#include <cstddef>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define ZEL_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define ZEL_PRINTF_FORMAT(f, a)
#endif

// Formats into a 512-byte buffer of the call and hands it to the debug channel.
// Nothing is added: each message carries its own "\n". An over-long line is
// cut and stays terminated.
void debugPrint(const char* format, ...) ZEL_PRINTF_FORMAT(1, 2);

// From now on only the calling thread's lines go out; the others' are dropped.
// For the interrupt, whose line is the run's last: what the interrupted run
// would still say only follows from the interrupt. Never undone.
void quietOtherThreads();

// Also hands every debug line to `copy` (the support log), after the debug
// channel; nullptr stops that. Returns the receiver set before.
using DebugCopy = void (*)(const char* line);
DebugCopy setDebugCopy(DebugCopy copy);

// Keeps every debug line from now on (the last DEBUG_TRANSCRIPT_LINES of
// them), for the technician to copy after a run; drops what was kept before.
constexpr std::size_t DEBUG_TRANSCRIPT_LINES = 2000;
void startDebugTranscript();
// The lines kept since startDebugTranscript, oldest first.
std::vector<std::string> debugTranscript();

// Writes "Error %s at line %d in file %s\n" and ends the process at once.
[[noreturn]] void assertFailed(const std::string& text, int line, const char* file);

// Evaluates `condition` once; when false (a null pointer counts as false),
// reports "Assert: '<condition source>' is FALSE" and aborts.
#define ASSERT(condition)                                                              \
    do {                                                                               \
        if (!(condition))                                                              \
            assertFailed(std::string("Assert: '" #condition "' is FALSE"), __LINE__,   \
                         __FILE__);                                                    \
    } while (0)
