#include "tools/payload_names.h"

#include <QString>

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

}  // namespace

bool payloadNamesFitFat(const std::string& folder, std::string& reason) {
    return checkFolder(fs::path(folder), std::string(), reason);
}
