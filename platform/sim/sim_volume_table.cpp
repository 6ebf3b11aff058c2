#include "platform/sim/sim_volume_table.h"

#include "platform/volume_names.h"

#include <filesystem>
#include <system_error>

namespace platform {
namespace sim {
namespace {

// A partition that arrives from a new table holds a freshly formatted volume:
// its folder starts empty, whatever an earlier volume left in it.
void emptyFolder(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        std::filesystem::remove_all(entry.path(), error);
}

}  // namespace

std::string VolumeTable::add(char letter, const SimVolume& volume) {
    if (letter != '\0') takeLetter(letter);
    VolumeEntry entry;
    entry.id = nextId_++;
    entry.letter = letter;
    entry.name = volumeNameOfKey("simvol" + std::to_string(entry.id));
    entry.volume = volume;
    const std::string name = entry.name;
    entries_[entry.id] = std::move(entry);
    return name;
}

// The letter's volume is replaced: one added by hand under a letter in use,
// or a gone volume whose stale letter a new one takes over.
void VolumeTable::takeLetter(char letter) {
    removeLetter(letter);
}

VolumeEntry* VolumeTable::byLetter(char letter) {
    if (letter == '\0') return nullptr;
    for (auto& entry : entries_)
        if (entry.second.letter == letter) return &entry.second;
    return nullptr;
}

VolumeEntry* VolumeTable::byName(const std::string& name) {
    const auto key = keyOfVolumeName(name);
    if (!key) return nullptr;
    for (auto& entry : entries_)
        if (!entry.second.gone && keyOfVolumeName(entry.second.name) == key) return &entry.second;
    return nullptr;
}

VolumeEntry* VolumeTable::byId(uint64_t id) {
    auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : &it->second;
}

void VolumeTable::removeLetter(char letter) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->second.letter == letter) {
            entries_.erase(it);
            return;
        }
}

uint32_t VolumeTable::letterMask() const {
    uint32_t mask = 0;
    for (const auto& entry : entries_) {
        const char letter = entry.second.letter;
        if (letter >= 'A' && letter <= 'Z') mask |= 1u << (letter - 'A');
    }
    return mask;
}

std::vector<std::string> VolumeTable::names() const {
    std::vector<std::string> names;
    for (const auto& entry : entries_)
        if (!entry.second.gone) names.push_back(entry.second.name);
    return names;
}

std::vector<const VolumeEntry*> VolumeTable::onDrive(int driveNumber) const {
    std::vector<const VolumeEntry*> found;
    for (const auto& entry : entries_)
        if (!entry.second.gone && entry.second.volume.driveNumber == driveNumber)
            found.push_back(&entry.second);
    return found;
}

void VolumeTable::repartitioned(int driveNumber, const std::vector<Extent>& partitions,
                                const SimArrival& arrival, uint64_t nowMs) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        VolumeEntry& entry = it->second;
        if (entry.gone || entry.volume.driveNumber != driveNumber) {
            ++it;
            continue;
        }
        if (entry.letter == '\0' || arrival.staleForMs == 0) {
            it = entries_.erase(it);
            continue;
        }
        // The letter keeps answering with the old volume's extents for a while.
        entry.gone = true;
        entry.goneAtMs = nowMs + arrival.staleForMs;
        ++it;
    }
    if (arrival.arriveAfterMs < 0) return;
    pending_.push_back(
        Pending{nowMs + static_cast<uint64_t>(arrival.arriveAfterMs), driveNumber, partitions, arrival});
}

void VolumeTable::advance(uint64_t nowMs) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.gone && it->second.goneAtMs <= nowMs)
            it = entries_.erase(it);
        else
            ++it;
    }
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->atMs > nowMs) {
            ++it;
            continue;
        }
        const SimArrival& arrival = it->arrival;
        for (size_t i = 0; i < it->partitions.size(); ++i) {
            SimVolume volume;
            volume.driveNumber = it->driveNumber;
            volume.startSector = it->partitions[i].start;
            volume.sectors = it->partitions[i].sectors;
            if (i < arrival.folders.size()) {
                volume.directory = arrival.folders[i];
                emptyFolder(volume.directory);
            }
            add(i < arrival.letters.size() ? arrival.letters[i] : '\0', volume);
        }
        it = pending_.erase(it);
    }
}

}  // namespace sim
}  // namespace platform
