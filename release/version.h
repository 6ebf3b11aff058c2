#pragma once
// The program's version record and its text, as the window title shows it.

#include <QString>

#include <cstdint>
#include <sstream>
#include <string>

struct ProgramVersion {
    uint8_t major;
    uint8_t minor;
    uint8_t patch;       // 0: no patch
    uint8_t releaseTag;  // bits 7-6: release kind, bits 5-0: release number
};

// Release kinds in bits 7 and 6 of releaseTag.
constexpr uint8_t RELEASE_KIND_MASK = 0xC0;
constexpr uint8_t RELEASE_NUMBER_MASK = 0x3F;
constexpr uint8_t RELEASE_FINAL = 0x00;
constexpr uint8_t RELEASE_CANDIDATE = 0x40;
constexpr uint8_t RELEASE_BETA = 0x80;
constexpr uint8_t RELEASE_DEBUG = 0xC0;

extern const ProgramVersion programVersion;

// Decimal text of an integer, as a default-formatted stream writes it. Callers
// widen 8-bit fields first so that a byte gives digits, not a character.
template <typename Integer>
std::string numberToString(Integer value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

// "5.3", "5.3.1", "5.3 RC2" (short form); "5.3.0", "5.3.0.RC2" (full form).
QString versionString(const ProgramVersion& version, bool fullForm);

// The full form as narrow text, "5.3.0" or "5.3.0.RC2": what --version prints
// and the support log names. The packages carry it in their own forms
// (packaging/version_forms.cmake).
std::string versionText(const ProgramVersion& version);
