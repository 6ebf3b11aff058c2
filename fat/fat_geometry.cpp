#include "fat/fat_geometry.h"

#include "disk/raw_disk.h"
#include "util/debug.h"


namespace {

constexpr uint32_t FAT16_ROOT_SECTORS = 32;  // 512 entries of 32 bytes
constexpr uint32_t FAT32_START_CLUSTER_SECTORS = 8;
// Below this many sectors the FAT32 halving would drop the cluster under one sector.
constexpr uint32_t FAT32_MIN_AUTO_SECTORS = 65536;

uint32_t fat16AutoSectorsPerCluster(uint32_t count)
{
    if (count <= FAT16_MAX_UNITS)
        return 1;
    uint32_t spc = 2;
    while (count / spc > FAT16_MAX_UNITS)
        spc *= 2;
    return spc;
}

// Needs count >= FAT32_MIN_AUTO_SECTORS.
uint32_t fat32AutoSectorsPerCluster(uint32_t count)
{
    uint32_t spc = FAT32_START_CLUSTER_SECTORS;
    if (count / spc > FAT32_MAX_UNITS) {
        spc *= 2;
        while (count / spc > FAT32_MAX_UNITS)
            spc *= 2;
    }
    while (count / spc < 65536)
        spc /= 2;
    return spc;
}

// Clusters of the data region; the FAT32 root is cluster 2, inside it. Needs
// the metadata to fit the partition.
uint64_t dataClusters(const FatGeometry& g)
{
    const uint64_t dataStart =
        g.rootStart() + uint64_t(g.fatType == 16 ? g.rootSectors : 0);
    return dataStart < g.partitionSectors ? (g.partitionSectors - dataStart) / g.sectorsPerCluster
                                          : 0;
}

// The size rule works on an estimate of the data region (it takes a FAT16 root
// away on FAT32 as well), so on some sizes its FAT falls an entry or more
// short of the clusters that follow it. Every cluster must have its entry, or
// a driver may hand out a cluster the FAT cannot describe: grow the FAT by
// whole sectors until it does. Sizes the rule gets right keep its result.
void growFatToDescribeEveryCluster(FatGeometry& g)
{
    const uint32_t entriesPerSector = SECTOR_BYTES / g.fatEntryBytes;
    while (uint64_t(g.fatSectors) * entriesPerSector < dataClusters(g) + 2)
        ++g.fatSectors;
}

}  // namespace

uint32_t clusterCountOf(const FatGeometry& geometry)
{
    return static_cast<uint32_t>(dataClusters(geometry));
}

uint32_t fatSectorsFor(uint32_t partitionSectors, uint32_t reservedSectors,
                       uint32_t fatEntryBytes, uint32_t sectorsPerCluster)
{
    // One cluster of data costs its bytes plus one entry in each of the two FATs.
    const uint32_t usable = partitionSectors - reservedSectors - FAT16_ROOT_SECTORS;
    const uint64_t divisor = uint64_t(SECTOR_BYTES) * sectorsPerCluster + 2 * fatEntryBytes;
    return static_cast<uint32_t>((uint64_t(usable) * fatEntryBytes + divisor - 1) / divisor);
}

bool chooseFatGeometry(uint32_t partitionStart, uint32_t partitionSectors, int32_t fatType,
                       uint32_t clusterBytes, FatGeometry& geometry)
{
    const uint32_t count = partitionSectors;
    if (fatType != 0 && fatType != 16 && fatType != 32) {
        debugPrint("Unable to find suitable dist format: %d\n", fatType);
        return false;
    }
    if (clusterBytes != 0 && clusterBytes < SECTOR_BYTES) {
        debugPrint("Cluster size of %u bytes is below one sector\n", clusterBytes);
        return false;
    }
    if (clusterBytes != 0 && !isFatClusterSize(clusterBytes)) {
        debugPrint("Cluster size of %u bytes is not a power of two from 512 to 65536\n",
                   clusterBytes);
        return false;
    }

    int type = fatType;
    uint32_t spc = clusterBytes / SECTOR_BYTES;
    if (clusterBytes == 0) {
        if (type == 0)
            type = count / 8 > FAT16_MAX_UNITS ? 32 : 16;
        if (type == 16) {
            spc = fat16AutoSectorsPerCluster(count);
        } else {
            if (count < FAT32_MIN_AUTO_SECTORS) {
                debugPrint("Partition too small for FAT32 with automatic cluster size, "
                           "sectors: %u\n",
                           count);
                return false;
            }
            spc = fat32AutoSectorsPerCluster(count);
        }
    } else if (type == 0) {
        type = count / spc <= FAT16_MAX_UNITS ? 16 : 32;
    }

    // Huge partitions would double an automatic FAT16 cluster past what the
    // one-byte field holds.
    if (type == 16 && (count / spc > FAT16_MAX_UNITS || spc > MAX_CLUSTER_BYTES / SECTOR_BYTES)) {
        debugPrint("Unable to find suitable sectors per cluster for FAT16, sectors: %d, "
                   "sectorsPerCluster %d\n",
                   static_cast<int>(count), static_cast<int>(spc));
        return false;
    }
    if (type == 32 && count / spc > FAT32_MAX_UNITS) {
        debugPrint("Unable to find suitable sectors per cluster for FAT32, sectors: %d, "
                   "sectorsPerCluster %d\n",
                   static_cast<int>(count), static_cast<int>(spc));
        return false;
    }

    FatGeometry g;
    g.partitionStart = partitionStart;
    g.partitionSectors = count;
    g.fatType = type;
    g.sectorsPerCluster = spc;
    g.reservedSectors = type == 16 ? 1 : 32;
    g.fatEntryBytes = type == 16 ? 2 : 4;
    g.rootSectors = type == 16 ? FAT16_ROOT_SECTORS : spc;

    // A partition that cannot hold its own reserved region, FATs and root
    // would make the FAT size meaningless and the writes run past its end.
    bool fits = count > g.reservedSectors + FAT16_ROOT_SECTORS;
    if (fits) {
        g.fatSectors = fatSectorsFor(count, g.reservedSectors, g.fatEntryBytes, spc);
        growFatToDescribeEveryCluster(g);
        const uint64_t metadata =
            g.reservedSectors + 2 * uint64_t(g.fatSectors) + g.rootSectors;
        fits = metadata <= count;
    }
    if (!fits) {
        debugPrint("Partition too small for FAT%d, sectors: %u\n", type, count);
        return false;
    }
    // Readers tell the FAT type by the cluster count alone: outside its range
    // the volume would be read as FAT12 or FAT32 and its FAT misread. FAT32
    // is held to its minimum only when type and cluster size were both asked
    // for; the automatic choice keeps its small FAT32 volumes.
    const uint32_t clusters = clusterCountOf(g);
    const bool fat16Range = clusters >= FAT16_MIN_CLUSTERS && clusters < FAT32_MIN_CLUSTERS;
    const bool explicitFat32 = fatType == 32 && clusterBytes != 0;
    if ((type == 16 && !fat16Range) || (explicitFat32 && clusters < FAT32_MIN_CLUSTERS)) {
        debugPrint("Cluster count %u does not make a FAT%d volume, sectors: %u, "
                   "sectorsPerCluster %u\n",
                   clusters, type, count, spc);
        return false;
    }
    // Every sector written must have a 32-bit address; an entry whose start
    // and size run past that would otherwise wrap onto the start of the disk.
    if (uint64_t(partitionStart) + g.metadataSectors() > 0x100000000ull) {
        debugPrint("Partition at sector %u lies beyond the addressable sectors\n",
                   partitionStart);
        return false;
    }
    g.totalSteps = g.metadataSectors() + 1;
    geometry = g;
    return true;
}

uint32_t freeClustersOf(const FatGeometry& g) {
    // The FAT32 root directory takes cluster 2; every cluster has its entry.
    const uint32_t clusters = clusterCountOf(g);
    return g.fatType == 32 && clusters > 0 ? clusters - 1 : clusters;
}
