// A card image made by t6-card, with the boot folder and firmware copied on
// by the tool itself, boots in the PC emulator up to the test firmware.

#include "card_run.h"
#include "support/temp_dir.h"
#include "system/emulator_boot.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {


TEST(CardBoot, ImageWithFilesAndFirmwareBootsTheFirmware) {
    TempDir dir;
    const std::string boot = dir.file("files/boot");
    ASSERT_EQ(runCommand("mkdir -p " + shellQuoted(boot + "/grub") + " && cp " +
                         shellQuoted(ZEL_GRUB_STAGE2) + " " + shellQuoted(boot + "/grub/stage2")),
              0);
    ASSERT_TRUE(writeWholeFile(boot + "/grub/menu.lst", SERIAL_TEST_MENU));

    const std::string image = dir.file("card.img");
    std::vector<std::string> arguments = testCardImageArguments(image);
    arguments.insert(arguments.end(), {"--files", boot, "--firmware", ZEL_TEST_FIRMWARE});
    const CardRun built = runCardTool(dir, arguments);
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    const CardRun inspected = runCardTool(dir, {"inspect", image});
    ASSERT_EQ(inspected.status, 0) << inspected.out;

    const EmulatorRun run = bootInEmulator(image, 60);
    std::cout << "emulator: status " << run.status << " after " << run.seconds << " s\n"
              << run.console << "\n";
    EXPECT_TRUE(run.reachedMarker()) << "the firmware did not run within 60 s";
    EXPECT_EQ(run.status, TEST_FIRMWARE_EXIT_STATUS);
}

}  // namespace
