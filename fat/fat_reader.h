#pragma once
// Read-only access to a FAT16 or FAT32 volume on a drive, trusting nothing it
// reads: every cluster number is checked against the clusters the volume
// really has (from the sectors that exist, not from what the boot sector
// claims), and every chain is followed at most once around the volume.
// Names are compared without regard to ASCII case, as FAT does.

#include "fat/boot_sector_fields.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FatEntry {
    std::string name;       // the long name when there is a valid one, else the short name
    bool folder = false;
    uint32_t cluster = 0;   // first cluster; 0 for an empty file
    uint32_t size = 0;
    bool badShortName = false;  // characters no FAT short name may hold
    bool label = false;         // the volume label bit is set (only visitors see these)
    std::string labelText;      // of a label: its 11 bytes, trailing spaces removed
    int dots = 0;               // 1 for ".", 2 for ".." (only visitors see them)
    bool badLongName = false;   // long-name slots before it are damaged or orphaned
};

enum class FatLookup { File, Folder, Missing, Unreadable };

// How a cluster chain ended.
// Cut: the walk stopped at the number of clusters it was allowed to follow.
enum class ChainEnd { Complete, Cut, Loop, CrossLink, OutOfRange, Free, Bad, Unreadable };

// FAT numbers a folder's entries in 16 bits: readers stop at this many.
constexpr uint32_t MAX_FOLDER_ENTRIES = 65536;

// What follows a folder's entries: anything but empty entries behind its end
// marker, and long-name slots that no entry takes up (before a deleted entry,
// the end marker or the end of the folder).
struct FolderTail {
    bool stray = false;
    bool orphanedSlots = false;
};

// One bit per cluster: which clusters a walk has met already.
using ClusterMarks = std::vector<bool>;

// The sector reads one check of a card may make in all, shared by its readers:
// whatever its fields say, the check ends after that many.
struct ReadBudget {
    uint64_t left = 0;
    bool exhausted = false;
    bool take(uint64_t sectors = 1) {
        if (left < sectors) return !(exhausted = true);
        left -= sectors;
        return true;
    }
};

class FatReader {
public:
    // `availableSectors`: the sectors from `partitionStart` on that exist on
    // the drive and belong to the partition. With a `budget`, every read takes
    // from it and fails once it is spent.
    FatReader(platform::Handle handle, uint32_t partitionStart, uint32_t availableSectors,
              const FatBootSector& boot, ReadBudget* budget = nullptr);

    // Empty when the FAT area, root folder and data area fit in the available
    // sectors and the FAT can describe every cluster; else why not.
    const std::string& geometryProblem() const { return problem_; }
    uint32_t clusterCount() const { return clusterCount_; }
    uint32_t clusterBytes() const;
    uint32_t fatEntryCount() const { return clusterCount_ + 2; }

    // Entry `cluster` of FAT copy `copy` (masked to 28 bits on FAT32).
    bool fatEntry(uint32_t copy, uint32_t cluster, uint32_t& value);
    bool isEndOfChain(uint32_t value) const;
    bool isBadCluster(uint32_t value) const;

    // Follows the chain from `first` to its end marker, marking each cluster
    // in `marks` (sized fatEntryCount()) and appending it to `clusters` when
    // given; `length` receives the number of clusters. The walk stops at a
    // cluster marked already: Loop when this chain met it before, CrossLink
    // when an earlier chain did. `where` receives the offending cluster or value.
    // Only the first `collect` clusters are appended; after `follow` clusters
    // the walk ends as Cut.
    ChainEnd chain(uint32_t first, ClusterMarks& marks, std::vector<uint32_t>* clusters,
                   uint32_t& length, uint32_t& where, uint32_t collect = UINT32_MAX,
                   uint32_t follow = UINT32_MAX);
    // The clusters that hold MAX_FOLDER_ENTRIES entries.
    uint32_t folderClusterLimit() const;

    // Reads a file's bytes through its chain, in pieces of at most one sector,
    // handing them to `consume` (which may stop the read by returning false).
    // False unless the chain holds exactly the clusters the size needs and
    // every sector could be read.
    using Consumer = std::function<bool(const uint8_t*, uint32_t)>;
    bool readFile(const FatEntry& entry, const Consumer& consume);

    // Calls `visit` for each entry in the given folder clusters (or the FAT16
    // root region), "." and ".." and volume labels left out, until the end
    // marker or until `visit` returns false. False when a sector cannot be read.
    // With `tail`, the rest of the folder is read too and `tail` tells what
    // follows the entries (which readers treat differently). Clusters that
    // follow each other on the volume are read in one request.
    using EntryVisitor = std::function<bool(const FatEntry&)>;
    bool visitClusters(const std::vector<uint32_t>& clusters, const EntryVisitor& visit,
                       FolderTail* tail = nullptr);
    bool visitRootRegion(const EntryVisitor& visit, FolderTail* tail = nullptr);
    // The entries of the root folder (cluster 0) or of the folder starting at
    // `cluster`, at most MAX_FOLDER_ENTRIES of them. False when a sector
    // cannot be read or the folder's chain is damaged. With `seen` (sized
    // fatEntryCount()), a cluster read for an earlier folder counts as damage
    // too, so that a walk reads each cluster once.
    bool readFolder(uint32_t cluster, std::vector<FatEntry>& entries, ClusterMarks* seen = nullptr);
    // Looks up a path of '/'-separated names from the root.
    FatLookup find(const std::string& path, FatEntry& entry);
    // Reads sector `index` (0 to sectors per cluster - 1) of `cluster`.
    bool readClusterSector(uint32_t cluster, uint32_t index, uint8_t* buffer);
    // Reads sector `sector` of the volume, or `count` sectors from it.
    bool readRelative(uint32_t sector, uint8_t* buffer);
    bool readRelative(uint32_t sector, uint32_t count, uint8_t* buffer);

    const FatBootSector& boot() const { return boot_; }
    uint32_t fatStart() const { return boot_.reservedSectors; }
    uint32_t rootStart() const { return rootStart_; }
    uint32_t rootSectors() const { return rootSectors_; }

private:
    class EntryDecoder;
    bool visitSectors(uint32_t first, uint32_t count, EntryDecoder& decoder, bool& ended,
                      FolderTail* tail);
    // Calls `read` for each run of neighbouring clusters of `clusters`, as
    // its first sector and sector count, until it returns false.
    bool forEachRun(const std::vector<uint32_t>& clusters,
                    const std::function<bool(uint32_t, uint32_t)>& read) const;

    platform::Handle handle_;
    ReadBudget* budget_;
    uint32_t partitionStart_;
    FatBootSector boot_;
    std::string problem_;
    uint32_t rootStart_ = 0, rootSectors_ = 0;
    uint32_t dataStart_ = 0;     // first sector of cluster 2, relative to the partition
    uint32_t clusterCount_ = 0;
    // One cached FAT sector: chains mostly run through neighbouring entries.
    uint32_t cachedFatSector_ = 0xFFFFFFFF;
    uint8_t cache_[512] = {};
    ClusterMarks scratch_;  // for chains followed outside a whole-volume walk
    std::vector<uint8_t> run_;  // the sectors of one run of clusters
};
