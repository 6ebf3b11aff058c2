#include "inspect/card_inspection.h"

#include "bootloader/grub_images.h"
#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/fat_reader.h"
#include "inspect/fat_volume_check.h"
#include "fat/payload_check.h"
#include "util/debug.h"

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr uint32_t CARD_PARTITIONS = 2;
// A sound card's check reads its FATs, folders and boot files, far less than
// the card; reading it twice over means a damaged card leads the check in circles.
constexpr uint64_t READS_PER_DISK_SECTOR = 2, SPARE_READS = 65536;
const char* const VOLUME_LABELS[CARD_PARTITIONS] = {"t6sc_boot", "t6sc_data"};

std::string format(const char* pattern, ...) ZEL_PRINTF_FORMAT(1, 2);
std::string format(const char* pattern, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

class Inspector {
public:
    Inspector(platform::Handle handle, uint64_t diskSectors, const BootImages& images,
              const CardPayload* payload)
        : handle_(handle), diskSectors_(diskSectors), images_(images), payload_(payload) {
        budget_.left = READS_PER_DISK_SECTOR * diskSectors + SPARE_READS;
    }

    CardInspection run() {
        result_.report.push_back(format("Disk: %llu sectors of 512 bytes (%llu bytes)",
                                        static_cast<unsigned long long>(diskSectors_),
                                        static_cast<unsigned long long>(diskSectors_ * 512)));
        uint8_t mbr[SECTOR_BYTES];
        if (!read(0, mbr)) return result_;
        checkPartitionTable(mbr);
        for (uint32_t i = 0; i < CARD_PARTITIONS; ++i) checkVolume(i);
        checkBootLoader(mbr);
        checkBootFiles();
        if (payload_ != nullptr && readers_[0]) comparePayload(*readers_[0], *payload_, result_.findings);
        if (budget_.exhausted)
            finding("The check stopped after reading " +
                    std::to_string(READS_PER_DISK_SECTOR * diskSectors_ + SPARE_READS) +
                    " sectors, twice the card's size; the rest of the card is not checked.");
        return result_;
    }

private:
    bool read(uint32_t lba, uint8_t* buffer) {
        if (budget_.take() && readSector(handle_, lba, buffer)) return true;
        finding(format("Sector %u cannot be read.", lba));
        return false;
    }

    void line(const std::string& text) { result_.report.push_back(text); }
    void finding(const std::string& text) { result_.findings.push_back(text); }

    void checkPartitionTable(const uint8_t* mbr) {
        if (mbr[MBR_BOOT_SIGNATURE] != 0x55 || mbr[MBR_BOOT_SIGNATURE + 1] != 0xAA)
            finding("Sector 0 does not end with the signature 55 AA.");
        for (uint32_t i = 0; i < MBR_ENTRIES; ++i) {
            entries_[i] = readPartitionEntry(mbr, i);
            const PartitionEntryFields& entry = entries_[i];
            if (!entry.used) {
                line(format("Partition %u: empty", i));
            } else {
                line(format("Partition %u: type 0x%02X, first sector %u, %u sectors", i, entry.type,
                            entry.first, entry.count));
            }
            if (i >= CARD_PARTITIONS) {
                if (entry.used)
                    finding(format("Partition entry %u is in use; the card has two partitions.", i));
                continue;
            }
            if (entry.count == 0) {
                finding(format("Partition entry %u is empty.", i));
                continue;
            }
            if (uint64_t(entry.first) + entry.count > diskSectors_)
                finding(format("Partition %u runs past the end of the disk.", i));
            if (entry.first < STAGE15_FIRST_LBA + images_.stage15Sectors)
                finding(format("Partition %u starts inside the boot loader sectors (LBA 0 to %u).",
                               i, images_.stage15Sectors));
        }
        const PartitionEntryFields& boot = entries_[0];
        const PartitionEntryFields& data = entries_[1];
        if (boot.count != 0 && data.count != 0 && data.first < uint64_t(boot.first) + boot.count &&
            boot.first < uint64_t(data.first) + data.count)
            finding("Partitions 0 and 1 overlap.");
    }

    void checkVolume(uint32_t index) {
        const PartitionEntryFields& entry = entries_[index];
        // A partition starting past the end is already a finding of its own.
        if (entry.count == 0 || entry.first >= diskSectors_) return;
        uint8_t sector[SECTOR_BYTES];
        if (!read(entry.first, sector)) return;
        volumes_[index] = parseFatBootSector(sector);
        const FatBootSector& boot = volumes_[index];
        if (!boot.signature)
            finding(format("The boot sector of partition %u does not end with the signature 55 AA.",
                           index));
        if (!boot.layout) {
            finding(format("The boot sector of partition %u does not describe a FAT16 or FAT32 "
                           "volume.", index));
            line(format("Volume %u: no FAT volume", index));
            if (entry.type != PARTITION_TYPE_FAT16 && entry.type != PARTITION_TYPE_FAT32_LBA)
                finding(format("Partition %u has type 0x%02X, neither FAT16 (0x06) nor FAT32 (0x0B).",
                               index, entry.type));
            return;
        }
        line(format("Volume %u: FAT%d, %u-byte clusters, FAT of %u sectors (%u copies), label \"%s\"",
                    index, boot.fatType, boot.sectorsPerCluster * SECTOR_BYTES, boot.fatSectors,
                    boot.fatCount, boot.label.c_str()));
        const uint8_t expectedType = boot.fatType == 32 ? PARTITION_TYPE_FAT32_LBA : PARTITION_TYPE_FAT16;
        if (entry.type != expectedType)
            finding(format("Partition %u has type 0x%02X; its FAT%d volume needs 0x%02X.", index,
                           entry.type, boot.fatType, expectedType));
        if (boot.totalSectors > entry.count)
            finding(format("Volume %u is larger than its partition.", index));
        if (boot.label != VOLUME_LABELS[index])
            finding(format("Volume %u is labelled \"%s\", not \"%s\".", index, boot.label.c_str(),
                           VOLUME_LABELS[index]));
        // Only the sectors that exist and belong to the partition are read.
        const uint32_t available =
            static_cast<uint32_t>(std::min<uint64_t>(entry.count, diskSectors_ - entry.first));
        readers_[index] = std::make_unique<FatReader>(handle_, entry.first, available, boot, &budget_);
        checkFatVolume(*readers_[index], index, result_.findings);
    }

    void checkBootLoader(const uint8_t* mbr) {
        const bool stage1 = std::memcmp(mbr, images_.stage1, GRUB_STAGE1_BYTES) == 0;
        line(stage1 ? "Boot code (LBA 0): GRUB stage 1" : "Boot code (LBA 0): not GRUB stage 1");
        if (!stage1) finding("LBA 0 does not hold the GRUB stage 1 image.");

        uint32_t damaged = 0;
        uint8_t sector[SECTOR_BYTES];
        for (uint32_t i = 0; i < images_.stage15Sectors; ++i) {
            const uint32_t lba = STAGE15_FIRST_LBA + i;
            if (!read(lba, sector)) {
                ++damaged;
                continue;
            }
            if (std::memcmp(sector, images_.stage15 + i * SECTOR_BYTES, SECTOR_BYTES) != 0) {
                ++damaged;
                finding(format("LBA %u does not hold sector %u of the GRUB stage 1.5 image.", lba, i));
            }
        }
        const uint32_t last = STAGE15_FIRST_LBA + images_.stage15Sectors - 1;
        line(damaged == 0
                 ? format("Stage 1.5 (LBA %u to %u): GRUB stage 1.5", STAGE15_FIRST_LBA, last)
                 : format("Stage 1.5 (LBA %u to %u): %u of %u sectors differ", STAGE15_FIRST_LBA,
                          last, damaged, images_.stage15Sectors));
    }

    void checkBootFiles() {
        if (!readers_[0]) {
            finding("The boot files cannot be looked up: the boot volume is unreadable.");
            return;
        }
        FatReader& reader = *readers_[0];
        for (const char* path : REQUIRED_BOOT_FILES) {
            FatEntry entry;
            switch (reader.find(path, entry)) {
            case FatLookup::File:
                line(format("%s: %u bytes", path, entry.size));
                if (entry.size == 0)
                    finding(format("%s is empty.", path));
                else if (!reader.readFile(entry, [](const uint8_t*, uint32_t) { return true; }))
                    finding(format("%s cannot be read back whole through its clusters.", path));
                break;
            case FatLookup::Folder:
                line(format("%s: a folder", path));
                finding(format("%s is a folder, not a file.", path));
                break;
            case FatLookup::Missing:
                line(format("%s: missing", path));
                finding(format("%s is missing on the boot volume.", path));
                break;
            case FatLookup::Unreadable:
                line(format("%s: unreadable", path));
                finding(format("%s cannot be looked up: a folder on the way is damaged.", path));
                break;
            }
        }
    }

    platform::Handle handle_;
    uint64_t diskSectors_;
    BootImages images_;
    PartitionEntryFields entries_[MBR_ENTRIES];
    const CardPayload* payload_;
    FatBootSector volumes_[CARD_PARTITIONS];
    std::unique_ptr<FatReader> readers_[CARD_PARTITIONS];
    CardInspection result_;
    ReadBudget budget_;
};

}  // namespace

CardInspection inspectCard(platform::Handle handle, uint64_t diskSectors, const BootImages& images,
                           const CardPayload* payload) {
    return Inspector(handle, diskSectors, images, payload).run();
}

std::vector<std::string> comparePayloadOnCard(platform::Handle handle, uint64_t diskSectors,
                                              const CardPayload& payload) {
    std::vector<std::string> findings;
    uint8_t sector[SECTOR_BYTES];
    const PartitionEntryFields boot = readSector(handle, 0, sector)
                                          ? readPartitionEntry(sector, 0)
                                          : PartitionEntryFields{};
    if (boot.count == 0 || boot.first >= diskSectors || !readSector(handle, boot.first, sector)) {
        findings.push_back("The boot volume cannot be found to compare it with the payload.");
        return findings;
    }
    ReadBudget budget;
    budget.left = READS_PER_DISK_SECTOR * diskSectors + SPARE_READS;
    const uint32_t available =
        static_cast<uint32_t>(std::min<uint64_t>(boot.count, diskSectors - boot.first));
    FatReader reader(handle, boot.first, available, parseFatBootSector(sector), &budget);
    comparePayload(reader, payload, findings);
    return findings;
}
