#pragma once
// Text crossings: wide (16-bit units, as the Windows wide calls take them) to
// UTF-8 for debug lines, and the bounded formatting of device and volume paths.

#include <cstddef>
#include <string>

// The 16-bit wide string of the system, on every platform.
using WideString = std::u16string;

// UTF-8 of each 16-bit unit on its own: surrogate halves are not paired and
// each becomes a 3-byte sequence. No byte-order mark.
std::string wideToUtf8(WideString wide);

// Bounded narrow formatting (counted printf). Returns the length written, or -1
// when the formatter fails. The text stays terminated inside the buffer.
int formatNarrow(char* buffer, std::size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Bounded wide formatting of the path forms with one letter: each "%c" in the
// format is replaced by `letter`, "%%" by "%". Returns the length written, or
// -1 when it does not fit (the buffer then holds the cut, terminated text).
int formatWideLetter(char16_t* buffer, std::size_t size, const char16_t* format, char letter);

// Length of a NUL-terminated wide string.
std::size_t wideLength(const char16_t* text);
