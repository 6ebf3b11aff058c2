// t6-card on drives rather than image files, on a simulated machine: the
// drive list the wizard shows, the confirmation and removable-media rules,
// the volume lock-out around writes, and read-only inspection.

#include "platform/sim_platform.h"
#include "support/temp_dir.h"
#include "tools/card_commands.h"
#include "card_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint64_t CARD_BYTES = 1000944ull * 512;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome card(const std::vector<std::string>& arguments) {
    std::ostringstream out, err;
    const int status = runCard(arguments, out, err);
    return {status, out.str(), err.str()};
}

class CardDrives : public ::testing::Test {
protected:
    void SetUp() override { sim.setEchoDebug(false); }

    // A drive of the simulated machine backed by a fresh sparse image.
    platform::SimDrive& addDrive(int number, uint64_t bytes, bool removable) {
        platform::SimDrive drive;
        drive.imagePath = dir.file("drive" + std::to_string(number) + ".img");
        EXPECT_TRUE(makeSparseFile(drive.imagePath, bytes));
        drive.removable = removable;
        drive.heads = 16;
        drive.sectorsPerTrack = 63;
        drive.vendor = "CFVENDOR ";
        drive.product = "Card" + std::to_string(number);
        sim.addDrive(number, drive);
        return sim.drive(number);
    }

    // The boot files a card needs, in `folder` (the payload's boot folder).
    void writeBootFiles(const std::string& folder) {
        std::filesystem::create_directories(folder + "/grub");
        writeWholeFile(folder + "/grub/stage2", "STAGE2");
        writeWholeFile(folder + "/grub/menu.lst", "timeout 0\n");
    }

    bool called(const std::string& name, uint32_t code) const {
        for (const platform::SimCall& call : sim.calls())
            if (call.name == name && call.code == code) return true;
        return false;
    }

    TempDir dir;
    platform::SimPlatform sim;
    platform::ScopedPlatform scope{sim};
};

TEST_F(CardDrives, ListShowsTheWizardsRowsWithTheirDriveNumbers) {
    addDrive(0, CARD_BYTES, false);                 // the system disk
    addDrive(1, CARD_BYTES, true).media = false;    // an empty reader slot
    addDrive(3, CARD_BYTES, true);
    addDrive(5, CARD_BYTES, true).bytesPerSector = 4096;
    addDrive(6, 200000000, true);                   // no room for the data partition
    // Past the partition table's reach, where the file system takes such a sparse file.
    const bool huge = makeSparseFile(dir.file("drive7.img"), 2200000000000ull);
    if (huge) addDrive(7, 2200000000000ull, true);
    addDrive(9, 4009549824ull, true);
    addDrive(16, CARD_BYTES, true);                 // never probed

    const Outcome listed = card({"list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "3\t\\\\.\\PhysicalDrive3\tCFVENDOR  Card3 512 MB\n"
                          "9\t\\\\.\\PhysicalDrive9\tCFVENDOR  Card9 4 GB\n");
    EXPECT_EQ(listed.err,
              "Drive 0 is not offered: its media are not removable (a fixed disk).\n"
              "Drive 5 is not offered: The reader of drive 5 uses sectors of 4096 bytes; the "
              "card's boot loader and partitions need 512-byte sectors. Use another card reader.\n"
              "Drive 6 is not offered: The card in drive 6 holds 200 MB (200000000 bytes); the "
              "boot and data partitions need at least 265 MB (264757248 bytes). Use a larger "
              "card.\n" +
                  std::string(huge ? "Drive 7 is not offered: The card in drive 7 holds 2200.0 GB "
                                     "(2200000000000 bytes): a partition table of this layout "
                                     "reaches 2 TiB at most. Use a smaller card.\n"
                                   : ""));
    EXPECT_EQ(sim.writeCount(), 0u);
    EXPECT_EQ(sim.openHandleCount(), 0);

    sim.drive(3).present = false;
    sim.drive(9).present = false;
    sim.faults().refuseOpenDrive = {0, 5, 6, 7};
    const Outcome none = card({"list"});
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "No removable drive with a card was found. Some drives could not be "
                        "opened: run t6-card as administrator (or with sudo) to see them.\n");
    EXPECT_EQ(none.status, 0);
}

TEST_F(CardDrives, StagesOnAConfirmedRemovableDriveLockItsVolumesAndGiveThemBack) {
    addDrive(2, CARD_BYTES, true);
    platform::SimVolume volume;
    volume.directory = dir.path();
    volume.driveNumber = 2;
    sim.addVolume('E', volume);

    const std::vector<std::vector<std::string>> stages = {
        {"partition", "2", "--yes-destroy-drive", "2"},
        {"format", "\\\\.\\PhysicalDrive2", "--partition", "0", "--label", "t6sc_boot",
         "--yes-destroy-drive", "2"},
        {"format", "2", "--partition", "1", "--label", "t6sc_data", "--yes-destroy-drive=2"},
        {"bootloader", "2", "--yes-destroy-drive", "2"},
    };
    for (const auto& stage : stages) {
        sim.clearCalls();
        const Outcome run = card(stage);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(called("DeviceIoControl", platform::FSCTL_LOCK_VOLUME));
        EXPECT_TRUE(called("DeviceIoControl", platform::FSCTL_DISMOUNT_VOLUME));
        EXPECT_TRUE(called("DeviceIoControl", platform::FSCTL_UNLOCK_VOLUME));
        EXPECT_FALSE(sim.volumeLocked('E'));
        EXPECT_FALSE(sim.driveLocked(2));
        EXPECT_EQ(sim.openHandleCount(), 0);
    }

    // Inspecting the drive reads it and writes nothing.
    const uint64_t writes = sim.writeCount();
    sim.clearCalls();
    const Outcome inspected = card({"inspect", "2"});
    EXPECT_EQ(inspected.status, 1);
    EXPECT_NE(inspected.out.find("Partition 0: type 0x06, first sector 256, 511808 sectors"),
              std::string::npos)
        << inspected.out;
    EXPECT_NE(inspected.out.find("Findings:\n  boot/grub/stage2 is missing"), std::string::npos)
        << inspected.out;
    EXPECT_EQ(sim.writeCount(), writes);
    for (const platform::SimCall& call : sim.calls())
        if (call.name == "CreateFileA") {
            EXPECT_EQ(call.access, platform::GENERIC_READ);
        }
    EXPECT_FALSE(called("DeviceIoControl", platform::FSCTL_LOCK_VOLUME));
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(CardDrives, DrivesWithoutRemovableMediaAreNeverWritten) {
    addDrive(2, CARD_BYTES, false);
    const Outcome run = card({"partition", "2", "--yes-destroy-drive", "2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Drive 2 does not hold removable media; t6-card writes only to removable cards.\n");
    EXPECT_EQ(sim.writeCount(), 0u);
    EXPECT_FALSE(called("DeviceIoControl", platform::FSCTL_LOCK_VOLUME));
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(CardDrives, UnconfirmedOrMissingDrivesAreRefusedBeforeAnyWrite) {
    addDrive(2, CARD_BYTES, true);
    Outcome run = card({"bootloader", "2"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("confirm with --yes-destroy-drive 2."), std::string::npos) << run.err;
    run = card({"bootloader", "2", "--yes-destroy-drive", "3"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(sim.calls().size(), 0u);

    run = card({"bootloader", "7", "--yes-destroy-drive", "7"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Drive 7 cannot be opened (error 2).\n");
    run = card({"inspect", "7"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Could not open drive 7 for reading.\n");
    EXPECT_EQ(sim.writeCount(), 0u);
}

TEST_F(CardDrives, AFailedOpenOrABusyVolumeWritesNothingAndReleasesTheVolumes) {
    sim.setVirtualClock(true);  // the retries' seconds pass at once
    addDrive(2, CARD_BYTES, true);
    platform::SimVolume volume;
    volume.directory = dir.path();
    volume.driveNumber = 2;
    sim.addVolume('F', volume);
    sim.addVolume('G', volume);
    writeWholeFile(dir.file("fw.bin"), "FIRMWARE");
    // Not the folder of the drive's image, which would not fit the boot volume.
    std::filesystem::create_directories(dir.file("payload"));
    writeBootFiles(dir.file("payload"));
    enum Fault { DRIVE_LOCK_REFUSED, BUSY_VOLUME, ANOTHER_RUN, THIRD_VOLUME };
    struct Case {
        Fault fault;
        std::string err;
        std::vector<std::string> debugLines;
    };
    const Case cases[] = {
        {DRIVE_LOCK_REFUSED, "Could not open drive 2 for writing.\n",
         {"Lock of \\\\.\\PhysicalDrive2 refused: 5\n", "Failed to open disk\n"}},
        // A mounted volume would write its cached state over the new card:
        // the drive is not even opened.
        {BUSY_VOLUME,
         "The card's volume at " + dir.path() +
             " is busy: a program has files open on it. Close them (or unmount the volume) and "
             "try again.\n",
         {"LOCK_VOLUME for \\\\.\\F: failed: 5\n",
          "LOCK_VOLUME for \\\\.\\F: after a dismount failed: 5\n"}},
        // Another run holds the drive: nothing of it is asked, not even its volumes.
        {ANOTHER_RUN, "Another run is rebuilding drive 2; it is left alone.\n", {}},
        // Nor is it with a third volume, which is never held.
        {THIRD_VOLUME,
         "The card has a third volume, at " + dir.path() +
             "; only two can be taken from the system. Unmount it and try again.\n",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        sim.faults().refuseDriveLock = c.fault == DRIVE_LOCK_REFUSED;
        sim.faults().refuseVolumeLock.clear();
        if (c.fault == BUSY_VOLUME) sim.faults().refuseVolumeLock.insert('F');
        if (c.fault == THIRD_VOLUME) sim.addVolume('H', volume);
        const platform::Handle otherRun = c.fault == ANOTHER_RUN
                                              ? sim.CreateMutexW(u"Global\\ZelRecoveryDrive2")
                                              : platform::INVALID_HANDLE_VALUE;
        // A stage command, and the whole installation with the same sentences.
        for (const bool install : {false, true}) {
            sim.clearCalls();
            sim.clearDebugLines();
            const Outcome run =
                install ? card({"install", "2", "--files", dir.file("payload"), "--firmware",
                                dir.file("fw.bin"), "--yes-destroy-drive", "2"})
                        : card({"partition", "2", "--yes-destroy-drive", "2"});
            EXPECT_EQ(run.status, 1);
            if (!install) {
                EXPECT_EQ(run.err, c.err);
                EXPECT_EQ(sim.debugLines(), c.debugLines);
            } else {
                EXPECT_EQ(run.err, c.fault == DRIVE_LOCK_REFUSED
                                       ? "The installation on drive 2 failed.\n"
                                       : c.err);
            }
            EXPECT_EQ(sim.writeCount(), 0u);
            bool driveOpened = false;
            for (const platform::SimCall& call : sim.calls())
                driveOpened = driveOpened || (call.name == "CreateFileA" && call.shareMode == 0);
            EXPECT_EQ(driveOpened, c.fault == DRIVE_LOCK_REFUSED);
            EXPECT_EQ(called("DeviceIoControl", platform::FSCTL_LOCK_VOLUME), c.fault != ANOTHER_RUN);
            EXPECT_FALSE(sim.volumeLocked('F'));
            EXPECT_FALSE(sim.volumeLocked('G'));
            EXPECT_EQ(sim.openHandleCount(), 0);
            EXPECT_EQ(sim.guardCount(), c.fault == ANOTHER_RUN ? 1 : 0);
        }
        if (otherRun != platform::INVALID_HANDLE_VALUE) sim.CloseHandle(otherRun);
    }
}

// Standard output that calls `hook` with each line as it is flushed: the
// run can be changed under it at the moment a stage line is shown.
struct LineHook : std::stringbuf {
    std::function<void(const std::string&)> hook;
    int sync() override {
        const std::string text = str();
        const size_t start = text.rfind('\n', text.size() - 2);
        if (hook && !text.empty()) hook(text.substr(start == std::string::npos ? 0 : start + 1));
        return 0;
    }
};

// A failed run on a drive ends with the one sentence of its cause, last,
// worked out from the codes the drive gave and the drive probed again. (A
// write-protected card needs the writability query: tests/platform and the
// virtual-machine test.)
TEST_F(CardDrives, AFailedInstallationEndsWithTheSentenceOfItsCause) {
    writeWholeFile(dir.file("fw.bin"), "FIRMWARE");
    writeBootFiles(dir.file("files/boot"));
    struct Case {
        const char* name;
        std::function<void(platform::SimDrive&, platform::SimFaults&)> before;
        const char* atLine;  // shown: `then` happens, or the card goes away
        std::string lastLine;
        std::function<void()> then = nullptr;
    };
    const auto none = [](platform::SimDrive&, platform::SimFaults&) {};
    // What is still mounted covers the card: Windows refuses the writes there.
    const auto mountedOver = [this] {
        platform::SimVolume volume;
        volume.directory = dir.file("other");
        volume.driveNumber = 2;
        volume.sectors = CARD_BYTES / 512;
        sim.addVolume('G', volume);
    };
    const Case cases[] = {
        {"no card", [](platform::SimDrive& d, platform::SimFaults&) { d.media = false; }, nullptr,
         "There is no card in the reader of drive 2. Insert the card and try again.\n"},
        {"no rights",
         [](platform::SimDrive&, platform::SimFaults& f) { f.refuseOpenDrive.insert(2); }, nullptr,
         "Writing to drive 2 needs administrator (root) rights. Start the program as "
         "administrator (or with sudo) and try again.\n"},
        {"4096-byte sectors",
         [](platform::SimDrive& d, platform::SimFaults&) { d.bytesPerSector = 4096; }, nullptr,
         "The reader of drive 2 uses sectors of 4096 bytes; the card's boot loader and partitions "
         "need 512-byte sectors. Use another card reader.\n"},
        {"failing sector",
         [](platform::SimDrive&, platform::SimFaults& f) { f.failWritesAfter = 1; }, nullptr,
         "A sector of the card in drive 2 could not be written: the card is failing. Use another "
         "card.\n"},
        {"removed", none, "[ 11%] Formatting boot partition...\n",
         "The card in drive 2 was removed (or its reader disconnected) during the run, at "
         "\"Formatting boot partition...\" (11%); the card is incomplete and must be rebuilt.\n"},
        // Refused for rights once written: it was not the rights that were missing.
        {"removed, then refused", none, "[ 11%] Formatting boot partition...\n",
         "The card in drive 2 was removed (or its reader disconnected) during the run, at "
         "\"Formatting boot partition...\" (11%); the card is incomplete and must be rebuilt.\n",
         [this] {
             sim.faults().failWritesAfter = 0;
             sim.faults().refuseOpenDrive.insert(2);
         }},
        {"writes refused", none, "[ 11%] Formatting boot partition...\n",
         "Writing to drive 2 was refused after its volumes were taken from the system: security "
         "software (an antivirus, or its protection of disks against changes) blocks writes to "
         "whole disks. Allow this program in it, or pause it, and try again.\n",
         mountedOver},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.faults() = platform::SimFaults();
        c.before(addDrive(2, CARD_BYTES, true), sim.faults());
        LineHook lines;
        lines.hook = [this, &c](const std::string& line) {
            if (c.atLine == nullptr || line != c.atLine) return;
            if (c.then) return c.then();
            sim.drive(2).present = false;
            sim.faults().failWritesAfter = 0;
        };
        std::ostream out(&lines);
        std::ostringstream err;
        const int status = runCard({"install", "2", "--files", dir.file("files/boot"), "--firmware",
                                    dir.file("fw.bin"), "--yes-destroy-drive", "2"},
                                   out, err);
        EXPECT_EQ(status, 1);
        const std::string text = err.str();
        const size_t last = text.rfind('\n', text.size() - 2);
        EXPECT_EQ(text.substr(last == std::string::npos ? 0 : last + 1), c.lastLine) << text;
        EXPECT_EQ(sim.openHandleCount(), 0);
    }
}

TEST_F(CardDrives, InstallRebuildsAConfirmedCardAndDeploysItsFiles) {
    addDrive(2, CARD_BYTES, true);
    platform::SimVolume volume;
    volume.directory = dir.file("volE");
    volume.driveNumber = 2;
    std::filesystem::create_directories(volume.directory);
    sim.addVolume('E', volume);
    writeBootFiles(dir.file("files/boot"));
    writeWholeFile(dir.file("fw.bin"), "FIRMWARE");

    // By number, and on Linux by device path: /dev/sdc is drive 2.
    for (const std::string drive : {"2", "/dev/sdc"}) {
        SCOPED_TRACE(drive);
        std::filesystem::remove_all(dir.file("volE/boot"));
        const Outcome run = card({"install", drive, "--files", dir.file("files/boot"),
                                  "--firmware", dir.file("fw.bin"), "--yes-destroy-drive", drive});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, REBUILD_STAGE_LINES);
        EXPECT_EQ(readWholeFile(dir.file("volE/boot/grub/menu.lst")), "timeout 0\n");
        EXPECT_EQ(readWholeFile(dir.file("volE/boot/bzImage")), "FIRMWARE");
        EXPECT_FALSE(sim.volumeLocked('E'));
        EXPECT_FALSE(sim.driveLocked(2));
        EXPECT_EQ(sim.openHandleCount(), 0);
    }
    // The sim keeps the volume's files in a folder: inspect sees the rebuilt disk alone.
    EXPECT_NE(card({"inspect", "/dev/sdc"}).out.find("Boot code (LBA 0): GRUB stage 1\n"),
              std::string::npos);

    // A loop device stands in for a card with --allow-loop, which waives the
    // removable check for it alone.
    addDrive(platform::SIM_LOOP_DRIVE_BASE + 3, CARD_BYTES, false);
    volume.directory = dir.file("volF");
    volume.driveNumber = platform::SIM_LOOP_DRIVE_BASE + 3;
    std::filesystem::create_directories(volume.directory);
    sim.addVolume('F', volume);
    const Outcome loop = card({"install", "/dev/loop3", "--files", dir.file("files/boot"),
                               "--firmware", dir.file("fw.bin"), "--yes-destroy-drive",
                               "/dev/loop3", "--allow-loop"});
    EXPECT_EQ(loop.status, 0) << loop.err;
    EXPECT_EQ(loop.out, REBUILD_STAGE_LINES);
    EXPECT_EQ(readWholeFile(dir.file("volF/boot/bzImage")), "FIRMWARE");

    // A failed deployment fails the command.
    const Outcome missing = card({"install", "2", "--files", dir.file("files/boot"), "--firmware",
                                  dir.file("none.bin"), "--yes-destroy-drive", "2"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "The firmware file " + dir.file("none.bin") + " does not exist.\n");
}

TEST_F(CardDrives, DevicePathsThatAreNoRemovableDriveAreRefusedBeforeAnyWrite) {
    addDrive(0, CARD_BYTES, false);
    addDrive(2, CARD_BYTES, true);
    writeBootFiles(dir.file("files/boot"));
    writeWholeFile(dir.file("fw.bin"), "FIRMWARE");
    struct Case {
        std::string drive;
        std::string confirmation;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"/dev/sdc1", "/dev/sdc1", 1, "/dev/sdc1 is a partition; name the whole drive (drive 2).\n"},
        {"/dev/loop0", "/dev/loop0", 1,
         "/dev/loop0 is a loop device, not a card; name it with --allow-loop to use it in place "
         "of one.\n"},
        {"/dev/loop0p1", "/dev/loop0p1", 1,
         "/dev/loop0p1 is a partition; name the whole drive (drive 100).\n"},
        {"/dev/sda", "/dev/sda", 1,
         "Drive 0 does not hold removable media; t6-card writes only to removable cards.\n"},
        {"/dev/sdq", "/dev/sdq", 1, "Drive 16 cannot be opened (error 2).\n"},
        {"/dev/cdrom", "/dev/cdrom", 1,
         "/dev/cdrom names no drive that t6-card can reach; name the drive by its number "
         "(t6-card list).\n"},
    };
    for (const Case& c : cases) {
        const Outcome run = card({"install", c.drive, "--files", dir.file("files/boot"),
                                  "--firmware", dir.file("fw.bin"), "--yes-destroy-drive",
                                  c.confirmation});
        EXPECT_EQ(run.status, c.status) << c.drive;
        EXPECT_EQ(run.err, c.err) << c.drive;
    }
    // The confirmation names the drive the same way.
    const Outcome unconfirmed = card({"install", "/dev/sdc", "--files", dir.file("files/boot"),
                                      "--firmware", dir.file("fw.bin"), "--yes-destroy-drive", "2"});
    EXPECT_EQ(unconfirmed.status, 2);
    EXPECT_EQ(sim.writeCount(), 0u);
    EXPECT_EQ(sim.openHandleCount(), 0);
}

}  // namespace
