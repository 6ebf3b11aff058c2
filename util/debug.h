#pragma once
// The one diagnostic channel: single narrow lines to the OS debug output
// (standard error where there is no debugger channel), and the invariant check.

#include <string>

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
