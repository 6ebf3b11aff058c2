#include "tools/payload_names.h"

#include <QString>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Characters a FAT long name may not hold, besides the control characters.
constexpr char FORBIDDEN[] = "\"*/:<>?\\|";

// A path for a message: control characters as \xNN, so the sentence stays one line.
std::string printable(const std::string& path) {
    std::string text;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

bool badCharacter(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || std::strchr(FORBIDDEN, c) != nullptr) return true;
    return false;
}

// Why FAT cannot hold `name` as it is, or empty. Long names are UCS-2, and
// readers drop trailing dots and spaces.
std::string whyNotStorable(const std::string& name) {
    if (badCharacter(name))
        return " holds a character that FAT does not allow in a name (a control character or one "
               "of \" * / : < > ? \\ |).";
    const QString text = QString::fromStdString(name);
    if (text.toStdString() != name) return " is not valid UTF-8, so its characters are not known.";
    for (const QChar c : text)
        if (c.isSurrogate())
            return " holds a character beyond U+FFFF, which a FAT long name cannot hold.";
    if (name.back() == '.' || name.back() == ' ')
        return " ends with a dot or a space, which FAT drops from a name.";
    return {};
}

// `relative` and `name` in UTF-8, joined with '/'.
std::string joined(const std::string& relative, const std::string& name) {
    return relative.empty() ? name : relative + "/" + name;
}

bool checkFolder(const fs::path& folder, const std::string& relative, std::string& reason) {
    std::map<QString, std::string> folded;  // case-folded name -> name
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        // UTF-8 on every system (a narrow string on Windows is its code page).
        const std::string name = entry.path().filename().u8string();
        // The copier leaves such entries behind.
        if (name.front() == '.') continue;
        const std::string path = joined(relative, name);
        const std::string why = whyNotStorable(name);
        if (!why.empty()) {
            reason = printable(path) + why;
            return false;
        }
        const auto [known, added] =
            folded.emplace(QString::fromStdString(name).toCaseFolded(), name);
        if (!added) {
            reason = printable(joined(relative, known->second)) + " and " +
                     printable(path) + " differ only in case, which FAT does not tell apart.";
            return false;
        }
        if (entry.is_directory(error) && !entry.is_symlink(error) &&
            !checkFolder(entry.path(), path, reason))
            return false;
    }
    return true;
}

// A name that FAT holds as a short name alone: 1 to 8 characters, a dot and
// at most 3 more, of the characters a short name allows (either case: a
// lower-case name is kept with the case flags).
bool shortNameAlone(const std::string& name) {
    const std::size_t dot = name.find('.');
    const std::size_t base = dot == std::string::npos ? name.size() : dot;
    if (base == 0 || base > 8) return false;
    if (dot != std::string::npos &&
        (name.size() - dot - 1 > 3 || name.find('.', dot + 1) != std::string::npos))
        return false;
    for (unsigned char c : name)
        if (c >= 0x80 || std::strchr(" +,;=[]", c) != nullptr) return false;
    return true;
}

// The stem mcopy numbers a short name from: the first six characters of the
// name before its last dot and the first three after it, upper-cased; every
// character a short name cannot hold counts as the same one.
std::string shortNameStem(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    const std::string base = name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    const auto fold = [](std::string part, std::size_t most) {
        std::string text;
        for (unsigned char c : part) {
            if (c == '.' || c == ' ') continue;
            text += c >= 0x80 || std::strchr("+,;=[]", c) != nullptr
                        ? '_'
                        : static_cast<char>(std::toupper(c));
        }
        return text.substr(0, most);
    };
    return fold(base, 6) + "." + fold(extension, 3);
}

bool folderNumberable(const fs::path& folder, const std::string& relative, std::string& reason) {
    std::map<std::string, std::size_t> stems;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().u8string();
        if (name.front() == '.') continue;
        if (!shortNameAlone(name) && ++stems[shortNameStem(name)] > MAX_NAMES_PER_STEM) {
            reason = std::string("more than ") + std::to_string(MAX_NAMES_PER_STEM) +
                     " names in " + (relative.empty() ? "the folder itself" : printable(relative)) +
                     " need a long name and begin alike (as " + printable(name) +
                     " does); mcopy would take more than a minute to number their short names. "
                     "Give them names that differ in their first six characters.";
            return false;
        }
        if (entry.is_directory(error) && !entry.is_symlink(error) &&
            !folderNumberable(entry.path(), joined(relative, name), reason))
            return false;
    }
    return true;
}

}  // namespace

bool payloadNamesNumberable(const std::string& folder, std::string& reason) {
    return folderNumberable(fs::path(folder), std::string(), reason);
}

bool payloadNamesFitFat(const std::string& folder, std::string& reason) {
    return checkFolder(fs::path(folder), std::string(), reason);
}
