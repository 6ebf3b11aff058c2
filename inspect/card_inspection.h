#pragma once
// Checks a card (or its image) against what the rebuild writes, reading only:
// the partition table, both FAT volumes (every chain, the FAT copies), the
// GRUB sectors and the boot files, read back whole through their chains.

#include "bootloader/boot_sectors.h"
#include "fat/payload_check.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

struct CardInspection {
    std::vector<std::string> report;    // what was found, one line each
    std::vector<std::string> findings;  // what differs from a rebuilt card
    bool ok() const { return findings.empty(); }
};

// REQUIRED_BOOT_FILES: the files the boot chain needs on the boot volume.
#include "deploy/boot_files.h"

// What the deployment copies, CardPayload (fat/payload_check.h): the boot
// folder (becomes \boot) and the firmware (becomes \boot\bzImage).

// With a payload, the card's \boot is also compared with it file by file.
CardInspection inspectCard(platform::Handle handle, uint64_t diskSectors, const BootImages& images,
                           const CardPayload* payload = nullptr);

// Only the comparison of the boot volume's \boot with `payload`: one sentence
// per difference, empty when the card holds the payload as given.
std::vector<std::string> comparePayloadOnCard(platform::Handle handle, uint64_t diskSectors,
                                              const CardPayload& payload);
