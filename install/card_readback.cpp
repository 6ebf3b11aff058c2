#include "install/card_readback.h"

#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "disk/read_ahead.h"
#include "fat/boot_sector_fields.h"
#include "fat/fat_reader.h"
#include "fat/payload_check.h"
#include "platform/little_endian.h"
#include "util/debug.h"

#include <QDir>

#include <algorithm>
#include <vector>

namespace {

// The whole record with its one-byte tail, as Windows sizes it.
constexpr uint32_t GEOMETRY_BYTES = 40;

std::string nativePath(const QString& path) {
    return QDir::toNativeSeparators(path).toUtf8().toStdString();
}

// The payload against the boot partition's FAT volume on the open drive.
ReadBack compareWithCard(platform::Handle handle, uint64_t diskSectors,
                         const PayloadSources& sources, std::string& finding) {
    uint8_t sector[SECTOR_BYTES];
    std::vector<std::string> findings;
    if (!readSector(handle, 0, sector)) {
        findings.push_back("its partition table cannot be read back");
    } else {
        const PartitionEntryFields boot = readPartitionEntry(sector, 0);
        if (boot.count == 0 || boot.first >= diskSectors) {
            findings.push_back("its partition table has no boot partition");
        } else if (!readSector(handle, boot.first, sector)) {
            findings.push_back("the boot volume's first sector cannot be read back");
        } else {
            const uint32_t available =
                static_cast<uint32_t>(std::min<uint64_t>(boot.count, diskSectors - boot.first));
            FatReader reader(handle, boot.first, available, parseFatBootSector(sector));
            const CardPayload payload{nativePath(sources.bootFolder), nativePath(sources.firmware)};
            comparePayload(reader, payload, findings);
        }
    }
    if (findings.empty()) return ReadBack::Same;
    finding = findings.front();
    // The finding goes inside a sentence of its own.
    if (!finding.empty() && finding.back() == '.') finding.pop_back();
    return ReadBack::Differs;
}

}  // namespace

ReadBack readPayloadBack(const InstallTarget& target, const PayloadSources& sources,
                         std::string& finding) {
    platform::Platform& os = platform::os();
    const platform::Handle handle =
        os.CreateFileA(target.drivePath(), platform::GENERIC_READ,
                       platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                       platform::OPEN_EXISTING, platform::FILE_FLAG_NO_BUFFERING);
    if (handle == platform::INVALID_HANDLE_VALUE) {
        debugPrint("Drive %d cannot be opened to read the card back: %u\n", target.driveNumber(),
                   os.GetLastError());
        return ReadBack::Unreadable;
    }
    uint8_t geometry[GEOMETRY_BYTES] = {};
    uint32_t returned = 0;
    if (!os.DeviceIoControl(handle, platform::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                            geometry, sizeof geometry, &returned)) {
        debugPrint("Drive %d cannot be measured to read the card back: %u\n", target.driveNumber(),
                   os.GetLastError());
        os.CloseHandle(handle);
        return ReadBack::Unreadable;
    }
    const uint64_t diskSectors = loadLe64(geometry + platform::GEOMETRY_EX_DISK_SIZE) / SECTOR_BYTES;
    ReadBack result = ReadBack::Same;
    {
        // The FAT reader asks for a sector at a time; the card is asked for
        // runs of them.
        ReadAhead ahead(os, handle, diskSectors * SECTOR_BYTES);
        platform::Platform* const before = platform::setOs(&ahead);
        result = compareWithCard(handle, diskSectors, sources, finding);
        platform::setOs(before);
    }
    os.CloseHandle(handle);
    if (result == ReadBack::Differs)
        debugPrint("Read back from the card: %s\n", finding.c_str());
    return result;
}
