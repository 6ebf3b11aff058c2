#include "util/text.h"

#include <cstdarg>
#include <cstdio>

std::string wideToUtf8(WideString wide) {
    std::string utf8;
    utf8.reserve(wide.size() * 3);
    for (char16_t unit : wide) {
        auto u = static_cast<unsigned>(unit);
        if (u < 0x80) {
            utf8 += static_cast<char>(u);
        } else if (u < 0x800) {
            utf8 += static_cast<char>(0xC0 | (u >> 6));
            utf8 += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            // Surrogate halves too: each unit is encoded on its own.
            utf8 += static_cast<char>(0xE0 | (u >> 12));
            utf8 += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return utf8;
}

int formatNarrow(char* buffer, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(buffer, size, format, args);
    va_end(args);
    return written < 0 ? -1 : written;
}

int formatWideLetter(char16_t* buffer, std::size_t size, const char16_t* format, char letter) {
    if (size == 0) return -1;
    std::size_t out = 0;
    for (const char16_t* p = format; *p != u'\0'; ++p) {
        char16_t c = *p;
        if (c == u'%' && (p[1] == u'c' || p[1] == u'%')) {
            c = p[1] == u'c' ? static_cast<char16_t>(static_cast<unsigned char>(letter)) : u'%';
            ++p;
        }
        if (out + 1 >= size) {
            buffer[out] = u'\0';
            return -1;
        }
        buffer[out++] = c;
    }
    buffer[out] = u'\0';
    return static_cast<int>(out);
}

std::size_t wideLength(const char16_t* text) {
    std::size_t n = 0;
    while (text[n] != u'\0') ++n;
    return n;
}
