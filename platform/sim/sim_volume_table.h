#pragma once
// The simulated machine's volumes: each has a "\\?\Volume{...}\" name and may
// have a drive letter. When a drive's partition table changes, its volumes go
// away (their letters may answer a while longer for the old volume) and the
// new partitions arrive as volumes after a delay, as Windows mounts them.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform {

struct SimVolume {
    std::string directory;          // the volume's files
    int driveNumber = -1;           // physical drive it lies on; -1: none (extents fail)
    bool openable = true;           // CreateFileW with access rights succeeds
    bool mounted = true;            // a dismount clears it; use of its files sets it again
    // Where it lies on its drive, in 512-byte sectors. With no sectors it
    // lies where the first entry of the drive's partition table says, now.
    uint64_t startSector = 0;
    uint64_t sectors = 0;
    // A program has files open on it: its lock is refused with
    // ERROR_ACCESS_DENIED until a dismount takes the program's handles away.
    bool heldOpen = false;
};

// What appears once a drive whose partition table changed is released.
struct SimArrival {
    int arriveAfterMs = 0;           // -1: the new volumes never arrive
    std::vector<char> letters;       // letter of partition i; '\0' or none listed: no letter
    // Folder of partition i's files; emptied when it arrives (a fresh format).
    std::vector<std::string> folders;
    uint32_t staleForMs = 0;         // the old letters answer for the old volumes this long
};

namespace sim {

struct VolumeEntry {
    uint64_t id = 0;
    char letter = '\0';
    std::string name;
    SimVolume volume;
    bool gone = false;       // taken away; only its letter still answers, until goneAtMs
    uint64_t goneAtMs = 0;
    // The program holding the volume mounts it again after each dismount
    // until then (SimChoices::remountAfterDismountMs); 0: not dismounted yet.
    uint64_t remountsUntilMs = 0;
};

struct Extent {
    uint64_t start = 0;
    uint64_t sectors = 0;
};

class VolumeTable {
public:
    std::string add(char letter, const SimVolume& volume);
    // The volume under the letter, also one that is gone but still answers.
    VolumeEntry* byLetter(char letter);
    // The volume of a "\\?\Volume{...}" name (with or without the separator);
    // only volumes still there.
    VolumeEntry* byName(const std::string& name);
    VolumeEntry* byId(uint64_t id);
    void removeLetter(char letter);

    uint32_t letterMask() const;
    // The names of the volumes still there, in the order they came.
    std::vector<std::string> names() const;
    std::vector<const VolumeEntry*> onDrive(int driveNumber) const;

    // The drive's partition table now holds `partitions`: its volumes go, and
    // the partitions come as `arrival` says, counted from `nowMs`.
    void repartitioned(int driveNumber, const std::vector<Extent>& partitions,
                       const SimArrival& arrival, uint64_t nowMs);
    // Brings in what has arrived by `nowMs` and forgets stale letters.
    void advance(uint64_t nowMs);

private:
    struct Pending {
        uint64_t atMs = 0;
        int driveNumber = -1;
        std::vector<Extent> partitions;
        SimArrival arrival;
    };
    void takeLetter(char letter);

    std::map<uint64_t, VolumeEntry> entries_;
    std::vector<Pending> pending_;
    uint64_t nextId_ = 1;
};

}  // namespace sim
}  // namespace platform
