#include "fat/payload_check.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr char CARD_BOOT_FOLDER[] = "boot";
constexpr char CARD_FIRMWARE_NAME[] = "bzImage";
// Larger than any boot folder; a damaged card is not followed further.
constexpr std::size_t MAX_CARD_ENTRIES = 65536;

std::string key(std::string path) {
    for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return path;
}

struct Item {
    std::string path;  // as written on its side, "boot/..." for both
    bool folder = false;
    FatEntry card;     // card side only
    fs::path local;    // payload side only
};

using Items = std::map<std::string, Item>;

// The card's \boot, below the folder itself, as deep as it goes: each cluster
// is read once, so a folder entry that points back up ends the descent.
bool listCard(FatReader& reader, uint32_t cluster, const std::string& path, Items& items) {
    std::vector<std::pair<uint32_t, std::string>> pending{{cluster, path}};
    ClusterMarks read(reader.fatEntryCount(), false);
    bool complete = true;
    while (!pending.empty()) {
        const auto [folder, folderPath] = pending.back();
        pending.pop_back();
        std::vector<FatEntry> entries;
        if (!reader.readFolder(folder, entries, &read)) {
            complete = false;
            continue;
        }
        for (const FatEntry& entry : entries) {
            if (items.size() >= MAX_CARD_ENTRIES) return false;
            Item item{folderPath + "/" + entry.name, entry.folder, entry, {}};
            items[key(item.path)] = item;
            if (entry.folder && entry.cluster != 0) pending.emplace_back(entry.cluster, item.path);
        }
    }
    return complete;
}

bool leftOut(const fs::path& path, const std::vector<std::string>& paths) {
    std::error_code error;
    for (const std::string& other : paths)
        if (fs::equivalent(path, other, error)) return true;
    return false;
}

bool listPayload(const std::string& folder, const std::vector<std::string>& skipped, Items& items,
                 std::vector<std::string>& findings) {
    std::error_code error;
    fs::recursive_directory_iterator it(folder, error), end;
    if (error) {
        findings.push_back("The boot folder " + folder + " cannot be read: " + error.message() + ".");
        return false;
    }
    for (; it != end; it.increment(error)) {
        if (error) {
            findings.push_back("The boot folder " + folder + " cannot be read: " + error.message() + ".");
            return false;
        }
        const fs::path name = it->path().filename();
        if (name.string().compare(0, 1, ".") == 0 || leftOut(it->path(), skipped)) {
            it.disable_recursion_pending();
            continue;
        }
        const std::string relative = fs::relative(it->path(), folder, error).generic_string();
        Item item{std::string(CARD_BOOT_FOLDER) + "/" + relative, false, {}, it->path()};
        const fs::file_status status = it->symlink_status(error);
        if (fs::is_directory(status)) {
            item.folder = true;
        } else if (!fs::is_regular_file(status)) {
            findings.push_back("The payload's " + relative + " is not a plain file or folder.");
            continue;
        }
        items[key(item.path)] = item;
    }
    return true;
}

// The card's file against a payload file, byte for byte.
void compareFile(FatReader& reader, const Item& card, const fs::path& local,
                 std::vector<std::string>& findings) {
    std::error_code error;
    const uintmax_t localSize = fs::file_size(local, error);
    std::ifstream in(local, std::ios::binary);
    if (error || !in) {
        findings.push_back("The payload file " + local.string() + " cannot be read.");
        return;
    }
    if (localSize != card.card.size) {
        findings.push_back(card.path + " differs from the payload: " + std::to_string(card.card.size) +
                           " bytes on the card, " + std::to_string(localSize) + " in the payload.");
        return;
    }
    bool same = true;
    char expected[512];
    const bool read = reader.readFile(card.card, [&](const uint8_t* bytes, uint32_t length) {
        same = in.read(expected, length) && std::memcmp(expected, bytes, length) == 0;
        return same;
    });
    if (!read)
        findings.push_back(card.path + " cannot be compared with the payload: its clusters cannot "
                                       "be read back whole.");
    else if (!same)
        findings.push_back(card.path + " differs from the payload.");
}

std::string parentOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// A card entry that may stand for a payload entry the card could not name as
// given: in the same folder, of the same kind and, for a file, of its size.
bool sameKind(const Item& card, const Item& local) {
    if (key(parentOf(card.path)) != key(parentOf(local.path)) || card.folder != local.folder)
        return false;
    std::error_code error;
    return card.folder || fs::file_size(local.local, error) == card.card.size;
}

std::string nameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::string notStoredAsGiven(const Item& local, const Item& card) {
    return local.path + " could not be stored under its own name (the card holds " +
           nameOf(card.path) + ").";
}

}  // namespace

void comparePayload(FatReader& reader, const CardPayload& payload, std::vector<std::string>& findings) {
    FatEntry boot;
    if (reader.find(CARD_BOOT_FOLDER, boot) != FatLookup::Folder || boot.cluster == 0) {
        findings.push_back("The card has no readable boot folder to compare with the payload.");
        return;
    }
    Items card, local;
    if (!listCard(reader, boot.cluster, CARD_BOOT_FOLDER, card))
        findings.push_back("The card's boot folder cannot be read whole; it is compared as far as "
                           "it can be read.");
    if (!listPayload(payload.bootFolder, payload.leftOut, local, findings)) return;
    // The firmware takes the place of bzImage in \boot.
    const std::string firmwareKey = key(std::string(CARD_BOOT_FOLDER) + "/" + CARD_FIRMWARE_NAME);
    local[firmwareKey] = Item{std::string(CARD_BOOT_FOLDER) + "/" + CARD_FIRMWARE_NAME, false, {},
                              fs::path(payload.firmware)};

    // What the card holds beyond the payload: some of it may be a payload
    // name that the card keeps as another.
    Items extra;
    for (const auto& [name, item] : card)
        if (local.count(name) == 0) extra[name] = item;
    for (const auto& [name, item] : local) {
        const auto found = card.find(name);
        if (found == card.end()) {
            const auto renamed = std::find_if(extra.begin(), extra.end(), [&](const auto& other) {
                return sameKind(other.second, item);
            });
            if (renamed == extra.end()) {
                findings.push_back(item.path + " is in the payload but not on the card.");
            } else {
                findings.push_back(notStoredAsGiven(item, renamed->second));
                extra.erase(renamed);
            }
        } else if (nameOf(found->second.path) != nameOf(item.path)) {
            findings.push_back(notStoredAsGiven(item, found->second));
        } else if (found->second.folder != item.folder) {
            findings.push_back(item.path + (item.folder ? " is a folder in the payload but a file "
                                                          "on the card."
                                                        : " is a file in the payload but a folder "
                                                          "on the card."));
        } else if (!item.folder) {
            compareFile(reader, found->second, item.local, findings);
        }
    }
    for (const auto& [name, item] : extra)
        findings.push_back(item.path + " is on the card but not in the payload.");
}
