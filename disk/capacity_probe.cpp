#include "disk/capacity_probe.h"

#include "disk/raw_disk.h"
#include "disk/sector_io.h"
#include "platform/little_endian.h"
#include "util/debug.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

namespace {

using Sector = std::array<uint8_t, SECTOR_BYTES>;

// The low sectors are read as one request: every wrap size up to 1 MiB lands
// its aliases there.
constexpr uint32_t LOW_WINDOW = RUN_SECTORS;

// A marker nothing else on a card holds: the sector's own number, the card's
// size and a value of this run, spread over the whole sector.
Sector markerFor(uint32_t lba, uint32_t diskSectors, uint64_t nonce) {
    Sector s{};
    static constexpr char TAG[] = "T6 capacity probe";
    std::memcpy(s.data(), TAG, sizeof TAG);
    storeLe32(s.data() + 32, lba);
    storeLe32(s.data() + 36, diskSectors);
    storeLe64(s.data() + 40, nonce);
    for (uint32_t i = 48; i < SECTOR_BYTES; ++i)
        s[i] = static_cast<uint8_t>((nonce >> (i % 8 * 8)) ^ (lba >> (i % 4 * 8)) ^ i);
    return s;
}

class Probe {
public:
    Probe(platform::Handle handle, uint32_t diskSectors)
        : handle_(handle), diskSectors_(diskSectors),
          window_(std::min(diskSectors, LOW_WINDOW)) {}

    bool run() {
        const uint64_t nonce =
            static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        const uint32_t last = diskSectors_ - 1;
        for (uint32_t lba : {last / 2, last}) markers_[lba] = markerFor(lba, diskSectors_, nonce);
        for (const auto& marker : markers_) {
            watched_[marker.first];
            // Where the sector lands when the card wraps at 2^k sectors.
            for (uint64_t wrap = LOW_WINDOW; wrap <= marker.first; wrap *= 2)
                watched_[static_cast<uint32_t>(marker.first % wrap)];
        }

        if (!readAll(windowBefore_, original_)) return false;

        bool kept = true;
        uint32_t written = 0;
        for (const auto& marker : markers_) {
            if (SectorFault fault = writeSectors(handle_, marker.first, 1, marker.second.data())) {
                printSectorFault(fault, false);
                kept = false;
                break;
            }
            ++written;
        }
        if (kept) kept = checkAfterMarkers();
        // Whatever was found, the touched sectors get their old bytes back.
        return restore(written) && kept;
    }

private:
    // Reads the low window into `window` and every watched sector above it.
    bool readAll(std::vector<uint8_t>& window, std::map<uint32_t, Sector>& sectors) {
        window.resize(size_t(window_) * SECTOR_BYTES);
        if (SectorFault fault = readSectors(handle_, 0, window_, window.data())) {
            printSectorFault(fault, true);
            return false;
        }
        for (const auto& watched : watched_) {
            if (watched.first < window_) continue;
            if (SectorFault fault = readSectors(handle_, watched.first, 1, sectors[watched.first].data())) {
                printSectorFault(fault, true);
                return false;
            }
        }
        return true;
    }

    const uint8_t* originalOf(uint32_t lba, const std::vector<uint8_t>& window) const {
        return lba < window_ ? window.data() + size_t(lba) * SECTOR_BYTES : original_.at(lba).data();
    }

    const uint8_t* expectedOf(uint32_t lba, const std::vector<uint8_t>& window) const {
        auto marker = markers_.find(lba);
        return marker != markers_.end() ? marker->second.data() : originalOf(lba, window);
    }

    // Markers must read back as written; every other sector looked at as it was.
    bool checkAfterMarkers() {
        const std::vector<uint8_t>& before = windowBefore_;
        std::vector<uint8_t> window;
        std::map<uint32_t, Sector> now;
        if (!readAll(window, now)) return false;
        const auto current = [&](uint32_t lba) {
            return lba < window_ ? window.data() + size_t(lba) * SECTOR_BYTES : now.at(lba).data();
        };
        for (const auto& marker : markers_)
            if (std::memcmp(current(marker.first), marker.second.data(), SECTOR_BYTES) != 0)
                return lost(marker.first);
        for (uint32_t lba = 0; lba < window_; ++lba)
            if (!unchanged(lba, current(lba), before)) return false;
        for (const auto& watched : watched_)
            if (watched.first >= window_ && !unchanged(watched.first, current(watched.first), before))
                return false;
        return true;
    }

    // A sector that is not a marker changed: a marker's write landed on it
    // (name that marker), or the card changed it by itself (name it).
    bool unchanged(uint32_t lba, const uint8_t* bytes, const std::vector<uint8_t>& before) {
        if (std::memcmp(bytes, expectedOf(lba, before), SECTOR_BYTES) == 0) return true;
        for (const auto& marker : markers_)
            if (std::memcmp(bytes, marker.second.data(), SECTOR_BYTES) == 0) return lost(marker.first);
        return lost(lba);
    }

    bool lost(uint32_t lba) {
        debugPrint("Card reports %u sectors but does not keep data written at sector %u\n",
                   diskSectors_, lba);
        return false;
    }

    // The first `written` markers get their sectors' old bytes back, highest
    // first: on a wrapping card the last write to each real sector is then
    // the one that carries what it held before any marker.
    bool restore(uint32_t written) {
        std::vector<uint32_t> lbas;
        for (const auto& marker : markers_) lbas.push_back(marker.first);
        lbas.resize(written);
        for (auto it = lbas.rbegin(); it != lbas.rend(); ++it) {
            const uint8_t* old = originalOf(*it, windowBefore_);
            if (SectorFault fault = writeSectors(handle_, *it, 1, old)) {
                printSectorFault(fault, false);
                return false;
            }
        }
        return true;
    }

    platform::Handle handle_;
    uint32_t diskSectors_;
    uint32_t window_;
    std::map<uint32_t, Sector> markers_;
    std::map<uint32_t, bool> watched_;
    std::map<uint32_t, Sector> original_;
    std::vector<uint8_t> windowBefore_;
};

}  // namespace

bool probeCapacity(platform::Handle handle, uint32_t diskSectors) {
    if (diskSectors == 0) return true;  // nothing to lay out; the table writer refuses it
    return Probe(handle, diskSectors).run();
}
