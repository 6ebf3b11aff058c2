#pragma once
// Choice of FAT type and cluster size for one partition, and the sizes of the
// regions the volume writer lays down.

#include <cstdint>

// The numbers chosen for one FAT volume. Sector numbers of the regions are
// relative to partitionStart: reserved region at 0, FAT copy 1 at
// reservedSectors, FAT copy 2 at reservedSectors + fatSectors, root region at
// reservedSectors + 2 * fatSectors.
struct FatGeometry {
    uint32_t partitionStart = 0;     // first LBA, from the MBR entry
    uint32_t partitionSectors = 0;   // sector count, from the MBR entry
    int fatType = 0;                 // 16 or 32
    uint32_t sectorsPerCluster = 0;
    uint32_t reservedSectors = 0;    // 1 (FAT16) or 32 (FAT32)
    uint32_t fatEntryBytes = 0;      // 2 or 4
    uint32_t fatSectors = 0;         // one FAT copy; there are always two
    uint32_t rootSectors = 0;        // 32 (FAT16 root directory) or one cluster (FAT32)
    uint32_t totalSteps = 0;         // volume sector writes plus one for the MBR rewrite

    uint32_t firstFatCopy(uint32_t copy) const { return reservedSectors + copy * fatSectors; }
    uint32_t rootStart() const { return reservedSectors + 2 * fatSectors; }
    // Sectors the writer touches, from the boot sector to the end of the root region.
    uint32_t metadataSectors() const { return rootStart() + rootSectors; }
};

// Largest partition / sectorsPerCluster ratio each type accepts. The FAT16
// bound divides the whole partition, not the data area, so it is 65,536 and
// not the 65,524 clusters of the FAT standard.
constexpr uint32_t FAT16_MAX_UNITS = 65536;
constexpr uint32_t FAT32_MAX_UNITS = 268435456;
// Cluster counts by which readers tell FAT12, FAT16 and FAT32 apart.
constexpr uint32_t FAT16_MIN_CLUSTERS = 4085;
constexpr uint32_t FAT32_MIN_CLUSTERS = 65525;
// Largest cluster: 128 sectors.
constexpr uint32_t MAX_CLUSTER_BYTES = 65536;

// A cluster size a FAT boot sector can hold and readers take: a power of two
// from one sector to 128 sectors.
constexpr bool isFatClusterSize(uint64_t bytes) {
    return bytes >= 512 && bytes <= MAX_CLUSTER_BYTES && (bytes & (bytes - 1)) == 0;
}

// Chooses the FAT type (fatType 0: by size; 16 or 32: as asked) and the
// sectors per cluster (clusterBytes 0: by size; else clusterBytes / 512), then
// works out the region sizes. On an impossible request writes one debug line
// and returns false; `geometry` is then unspecified. Impossible: a cluster
// size that is not a power of two from 512 to 65,536 bytes, a FAT16 volume
// whose cluster count readers would take for FAT12 or FAT32, and a FAT32
// volume under 65,525 clusters when both type and cluster size were given.
bool chooseFatGeometry(uint32_t partitionStart, uint32_t partitionSectors, int32_t fatType,
                       uint32_t clusterBytes, FatGeometry& geometry);

// Clusters of the volume's data region (cluster 2 onwards). Every one of them
// has an entry in the FAT that chooseFatGeometry sizes.
uint32_t clusterCountOf(const FatGeometry& geometry);

// Sectors of one FAT copy for a partition of `partitionSectors` sectors, by
// the size rule alone. The 32 sectors of a FAT16 root directory are
// subtracted for FAT32 as well, which leaves the result short on some sizes;
// chooseFatGeometry grows it until it describes every cluster.
uint32_t fatSectorsFor(uint32_t partitionSectors, uint32_t reservedSectors,
                       uint32_t fatEntryBytes, uint32_t sectorsPerCluster);

// Clusters a new volume of this geometry has free for files and folders: the
// data region's clusters less the FAT32 root directory's.
uint32_t freeClustersOf(const FatGeometry& geometry);
