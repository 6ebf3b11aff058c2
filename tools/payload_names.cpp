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

bool checkFolder(const fs::path& folder, const fs::path& relative, std::string& reason) {
    std::map<QString, std::string> folded;  // case-folded name -> name
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const std::string path = (relative / name).generic_string();
        if (badCharacter(name)) {
            reason = printable(path) + " holds a character that FAT does not allow in a name "
                     "(a control character or one of \" * / : < > ? \\ |).";
            return false;
        }
        const auto [known, added] =
            folded.emplace(QString::fromStdString(name).toCaseFolded(), name);
        if (!added) {
            reason = printable((relative / known->second).generic_string()) + " and " +
                     printable(path) + " differ only in case, which FAT does not tell apart.";
            return false;
        }
        if (entry.is_directory(error) && !entry.is_symlink(error) &&
            !checkFolder(entry.path(), relative / name, reason))
            return false;
    }
    return true;
}

}  // namespace

bool payloadNamesFitFat(const std::string& folder, std::string& reason) {
    return checkFolder(fs::path(folder), fs::path(), reason);
}
