// The prepared images against the package files they come from: every byte is
// the package's except the fields the card's boot chain needs.

#include "bootloader/boot_sectors.h"
#include "bootloader/grub_images.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

bool contains(const uint8_t* bytes, size_t size, const char* text) {
    const size_t length = std::strlen(text);
    for (size_t i = 0; i + length <= size; ++i)
        if (std::memcmp(bytes + i, text, length) == 0) return true;
    return false;
}

}  // namespace

TEST(GrubImages, Stage1HoldsTheLoadAddressesOfTheCardLayout) {
    const uint8_t* image = grubStage1Image;
    EXPECT_EQ(0xEB, image[0]);
    EXPECT_EQ(0x48, image[1]);
    EXPECT_EQ(0x90, image[2]);
    for (int offset = 0x03; offset <= 0x3D; ++offset) EXPECT_EQ(0, image[offset]) << offset;
    EXPECT_EQ(0x03, image[0x3E]);
    EXPECT_EQ(0x02, image[0x3F]);
    EXPECT_EQ(0xFF, image[0x40]);        // boot drive from DL
    EXPECT_EQ(0x00, image[0x41]);        // LBA when offered
    EXPECT_EQ(0x2000u, le16(image + 0x42));
    EXPECT_EQ(1u, le32(image + 0x44));
    EXPECT_EQ(0x0200u, le16(image + 0x48));
    for (const char* text : {"GRUB ", "Geom", "Hard Disk", "Read", " Error"})
        EXPECT_TRUE(contains(image, GRUB_STAGE1_BYTES, text)) << text;
    int last = GRUB_STAGE1_BYTES - 1;
    while (last > 0 && image[last] == 0) --last;
    EXPECT_EQ(0x1AC, last);
}

TEST(GrubImages, Stage15IsSetUpForTheSectorsBehindTheMbr) {
    const BootImages images = grubBootImages();
    ASSERT_EQ(0u, grubStage15Bytes % 512);
    ASSERT_EQ(grubStage15Bytes / 512, images.stage15Sectors);
    ASSERT_GE(images.stage15Sectors, 2u);
    const uint8_t* image = grubStage15Image;

    // Start sector: loader code and the default block list at its end.
    EXPECT_EQ(0, std::memcmp(image, "\x52\x56\xBE\x03\x21", 5));
    for (int offset = 0x1F0; offset < 0x1F8; ++offset) EXPECT_EQ(0, image[offset]) << offset;
    EXPECT_EQ(2u, le32(image + 0x1F8));
    EXPECT_EQ(images.stage15Sectors - 1, le16(image + 0x1FC));
    EXPECT_EQ(0x0220u, le16(image + 0x1FE));

    // Body header.
    EXPECT_EQ(0, std::memcmp(image + 0x200, "\xEA\x70\x22\x00\x00", 5));
    EXPECT_EQ(0, std::memcmp(image + 0x206, "\x03\x02", 2));
    EXPECT_EQ(0, std::memcmp(image + 0x208, "\xFF\xFF\xFF\x00", 4));
    EXPECT_EQ(3, image[0x210]);
    EXPECT_EQ(0, image[0x211]);
    EXPECT_EQ(0, std::memcmp(image + 0x212, "0.97", 5));
    EXPECT_EQ(0, std::memcmp(image + 0x217, "\xFF\xFF\x00\xFF", 4));
    const char names[] = "/boot/grub/stage2 /boot/grub/menu.lst";
    EXPECT_EQ(0, std::memcmp(image + 0x21B, names, sizeof names));  // with its zero byte
    for (const char* text : {"GRUB loading, please wait...", "Error %u",
                             "internal error: the second sector of Stage 2 is unknown."})
        EXPECT_TRUE(contains(image, grubStage15Bytes, text)) << text;
}

TEST(GrubImages, EveryOtherByteIsThePackagesOwn) {
    const std::string stage1 = readWholeFile(ZEL_GRUB_STAGE1_PATH);
    const std::string stage15 = readWholeFile(ZEL_GRUB_STAGE15_PATH);
    if (stage1.empty() || stage15.empty()) GTEST_SKIP() << "package files not readable here";
    ASSERT_EQ(512u, stage1.size());

    for (uint32_t offset = 0; offset < GRUB_STAGE1_BYTES; ++offset) {
        const bool field = offset >= 0x40 && offset < 0x4A;
        if (field) continue;
        EXPECT_EQ(uint8_t(stage1[offset]), grubStage1Image[offset]) << offset;
    }

    ASSERT_EQ((stage15.size() + 511) / 512 * 512, grubStage15Bytes);
    for (uint32_t offset = 0; offset < grubStage15Bytes; ++offset) {
        const bool blockList = offset >= 0x1F8 && offset < 0x200;
        const bool config = offset >= 0x217 && offset < 0x21B + 38;
        if (blockList || config) continue;
        const uint8_t expected = offset < stage15.size() ? uint8_t(stage15[offset]) : 0;
        EXPECT_EQ(expected, grubStage15Image[offset]) << offset;
    }
}
