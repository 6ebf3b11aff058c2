#include "install/installation.h"

#include "deploy/payload_sources.h"

#include "bootloader/boot_sectors.h"
#include "install/failure_account.h"
#include "install/interrupted_run.h"
#include "install/held_drive.h"
#include "platform/sim_platform.h"
#include "support/temp_dir.h"
#include "support/recording_report.h"
#include "working_directory.h"

#include <gtest/gtest.h>

#include <QDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;
using History = std::vector<Shown>;

constexpr int CARD = 1;
constexpr uint64_t CARD_BYTES = 4000000000ull;  // a 4 GB card

// What the page shows in a run without failure.
History successHistory() {
    History h = {{0, "Partitioning drive..."},
                 {11, "Formatting boot partition..."},
                 {22, "Formatting data partition..."},
                 {33, "Formatting complete"},
                 {34, "Writing bootloader..."},
                 {39, "Writing bootloader..."},
                 {44, "Writing bootloader..."}};
    int value = 44;
    for (uint32_t i = 0; i < grubBootImages().stage15Sectors; ++i) h.push_back({++value, "Writing bootloader..."});
    h.push_back({value, "Finished writing bootloader"});
    h.push_back({value, "Copying files..."});
    h.push_back({67, "Copying files..."});
    h.push_back({83, "Copying files..."});
    h.push_back({99, "Finished copying files"});
    h.push_back({100, "Finished successfully"});
    return h;
}

// The first `shown` changes of a good run, then the failure ending: the bar
// reset under the last text, then the error text.
History failedAfter(size_t shown) {
    const History good = successHistory();
    History h(good.begin(), good.begin() + shown);
    const std::string last = shown == 0 ? std::string() : h.back().text;
    h.push_back({-1, last});
    h.push_back({-1, "Finished - an error occurred"});
    return h;
}

size_t indexOf(const History& history, const std::string& text) {
    for (size_t i = 0; i < history.size(); ++i)
        if (history[i].text == text) return i;
    return history.size();
}

// A simulated machine with a system disk volume C:, a 4 GB card (255 heads,
// 63 sectors per track) as drive 1 with its volume E:, and a working directory
// holding the boot files and the firmware.
class InstallationTest : public ::testing::Test {
protected:
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    TempDir temp;
    RecordingReport report;
    char drivePath[DRIVE_PATH_CHARS] = {};
    DriveDescription listed;  // the card as the drive list showed it

    void SetUp() override {
        // Retries wait on the machine's clock, which moves only when they do.
        sim.setVirtualClock(true);
        platform::SimDrive drive;
        drive.imagePath = temp.file("card.img");
        drive.heads = 255;
        drive.sectorsPerTrack = 63;
        drive.vendor = "Kestrel ";
        drive.product = "CF Reader";
        ASSERT_TRUE(makeSparseFile(drive.imagePath, CARD_BYTES));
        sim.addDrive(CARD, drive);
        ASSERT_TRUE(probeDrive(CARD, listed));
        addVolume('C', 0);
        addVolume('E', CARD);

        fs::create_directories(temp.file("work/files/boot/grub"));
        fs::create_directories(temp.file("work/firmware"));
        writeWholeFile(temp.file("work/files/boot/grub/menu.lst"), "timeout 0\n");
        writeWholeFile(temp.file("work/files/boot/grub/stage2"), std::string(100000, 's'));
        writeWholeFile(temp.file("work/firmware/t6-board.fw"), "FIRMWARE IMAGE");
    }

    void addVolume(char letter, int driveNumber) {
        platform::SimVolume volume;
        volume.directory = temp.file(std::string("vol") + letter);
        volume.driveNumber = driveNumber;
        fs::create_directories(volume.directory);
        sim.addVolume(letter, volume);
    }

    std::string onCard(const std::string& name) const { return temp.file("volE/" + name); }

    void run() {
        WorkingDirectory in(temp.file("work"));
        CardInstallation().run(report, CARD, listed, drivePath);
    }

    // Makes every write fail from the moment the status shows `text`.
    void failWritesFrom(const std::string& text) {
        report.onChange = [this, text](const std::string& shown) {
            if (shown == text) sim.faults().failWritesAfter = static_cast<int64_t>(sim.writeCount());
        };
    }

    void expectNothingHeld() const {
        EXPECT_EQ(sim.openHandleCount(), 0);
        EXPECT_EQ(sim.guardCount(), 0);
        EXPECT_FALSE(sim.driveLocked(CARD));
        EXPECT_FALSE(sim.volumeLocked('C'));
        EXPECT_FALSE(sim.volumeLocked('E'));
    }

    void expectFailedWith(const History& history) const {
        EXPECT_TRUE(report.failed());
        EXPECT_EQ(report.history, history);
        EXPECT_FALSE(fs::exists(onCard("boot/bzImage")));
        expectNothingHeld();
    }

    // Position in the call record of the first call matching `test`.
    template <typename Test>
    size_t firstCall(Test test) const {
        const auto& calls = sim.calls();
        for (size_t i = 0; i < calls.size(); ++i)
            if (test(calls[i])) return i;
        return calls.size();
    }
};

// The cause of a failed run, as the wizard's last debug line gives it.
const std::string FAILING_CARD =
    "A sector of the card in drive 1 could not be written: the card is failing. Use another card.\n";

TEST_F(InstallationTest, SuccessfulRunRebuildsTheCard) {
    run();
    EXPECT_FALSE(report.failed());
    EXPECT_EQ(report.history, successHistory());
    EXPECT_STREQ(drivePath, "\\\\.\\PhysicalDrive1");
    EXPECT_TRUE(sim.debugLines().empty());
    expectNothingHeld();

    EXPECT_EQ(readWholeFile(onCard("boot/grub/menu.lst")), "timeout 0\n");
    EXPECT_EQ(readWholeFile(onCard("boot/grub/stage2")), std::string(100000, 's'));
    EXPECT_EQ(readWholeFile(onCard("boot/bzImage")), "FIRMWARE IMAGE");
    std::string mbr(512, '\0');
    std::ifstream(temp.file("card.img"), std::ios::binary).read(&mbr[0], 512);
    EXPECT_EQ(mbr.substr(510), "\x55\xAA");
    EXPECT_EQ(mbr.substr(0, 3), "\xEB\x48\x90");
    // The drive is flushed before it is closed, the boot volume after the copies.
    EXPECT_EQ(sim.flushCount(), 2u);
    const size_t driveFlush = firstCall([](const platform::SimCall& c) { return c.name == "FlushFileBuffers"; });
    const platform::Handle drive = sim.calls()[driveFlush].handle;
    EXPECT_LT(driveFlush, firstCall([drive](const platform::SimCall& c) {
                  return c.name == "CloseHandle" && c.handle == drive;
              }));
}

// Runs started while the first copies its files (it has given the drive and
// the volumes back by then): the one on the same drive is refused before it
// touches anything, one on another drive goes on beside it, and the first
// still ends with a good card.
TEST_F(InstallationTest, ASecondRunOnTheDriveIsRefusedAndOneOnAnotherDriveGoesOn) {
    platform::SimDrive other;
    other.imagePath = temp.file("other.img");
    ASSERT_TRUE(makeSparseFile(other.imagePath, 600000000));
    sim.addDrive(2, other);
    RecordingReport sameReport, otherReport;
    RunProgress same(sameReport), beside(otherReport);
    MountedVolumeLeft left;
    size_t callsOfSame = 0;
    report.onChange = [&](const std::string& shown) {
        if (shown != "Copying files..." || !sameReport.history.empty()) return;
        const size_t before = sim.calls().size();
        runInstallation(same, InstallTarget(CARD), nullptr, &left);
        callsOfSame = sim.calls().size() - before;
        runInstallation(beside, InstallTarget(2), nullptr);
    };
    run();
    EXPECT_FALSE(report.failed());
    EXPECT_EQ(report.history, successHistory());
    EXPECT_EQ(readWholeFile(onCard("boot/bzImage")), "FIRMWARE IMAGE");
    EXPECT_TRUE(same.failed());
    EXPECT_TRUE(left.anotherRun);
    EXPECT_EQ(callsOfSame, 0u);
    EXPECT_EQ(accountForFailure(InstallTarget(CARD), same, left).sentence,
              "Another run is rebuilding drive 1; it is left alone.");
    EXPECT_FALSE(beside.failed());
    EXPECT_EQ(otherReport.history.back(), (Shown{100, "Finished successfully"}));
    expectNothingHeld();
}

TEST_F(InstallationTest, FailedFlushFailsTheRun) {
    sim.faults().failDriveFlush = true;
    run();
    expectFailedWith(failedAfter(indexOf(successHistory(), "Finished writing bootloader") + 1));
    EXPECT_EQ(sim.debugLines(), (Lines{"Failed to flush disk: 29\n", FAILING_CARD}));
    expectNothingHeld();

    sim.faults() = platform::SimFaults{};
    sim.faults().refuseVolumeFlush.insert('E');
    sim.clearDebugLines();
    report = RecordingReport();
    run();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(report.history.back(), (Shown{-1, "Finished - an error occurred"}));
    EXPECT_EQ(sim.debugLines(), std::vector<std::string>{"Failed to flush boot volume E: 29\n"});
    expectNothingHeld();
}

// An interrupt in the middle of the format, on a thread of its own as the
// real one comes, gives the drive and the volume back before the process ends
// and says how far the run got. The run goes on afterwards; it must make no
// request to the closed drive and report no failure the interrupt caused.
TEST_F(InstallationTest, AnInterruptGivesBackTheDriveAndTheVolumes) {
    EXPECT_EXIT(
        {
            std::thread interrupt;
            std::promise<void> givenBack;
            report.onChange = [&](const std::string& shown) {
                if (shown != "Formatting boot partition...") return;
                const bool held = sim.driveLocked(CARD) && sim.volumeLocked('E');
                interrupt = std::thread([this, held, &givenBack] {
                    const std::string line = giveBackInterruptedRun();
                    const size_t calls = sim.calls().size();
                    givenBack.set_value();
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    const bool released = sim.openHandleCount() == 0 &&
                                          !sim.driveLocked(CARD) && !sim.volumeLocked('E');
                    const bool runStopped = sim.calls().size() == calls &&
                                            sim.debugLines().empty() && !report.failed() &&
                                            report.history.back().text == "Formatting boot partition...";
                    std::fprintf(stderr, "%s\n", line.c_str());
                    std::fflush(stderr);
                    std::_Exit(held && released && runStopped ? 0 : 1);
                });
                // The run goes on once the interrupt has taken the drive away.
                givenBack.get_future().wait();
            };
            run();
            if (interrupt.joinable()) interrupt.join();
            std::_Exit(2);
        },
        ::testing::ExitedWithCode(0),
        "Interrupted at .Formatting boot partition.... .11%.; the card is incomplete and must "
        "be rebuilt.");
}

TEST_F(InstallationTest, VolumesAreHeldExactlyWhileTheDriveIsWritten) {
    run();
    using platform::SimCall;
    const size_t lock = firstCall([](const SimCall& c) {
        return c.name == "DeviceIoControl" && c.code == platform::FSCTL_LOCK_VOLUME;
    });
    const size_t openDrive = firstCall([](const platform::SimCall& c) {
        return c.name == "CreateFileA" && c.shareMode == 0;
    });
    ASSERT_LT(openDrive, sim.calls().size());
    const platform::Handle drive = sim.calls()[openDrive].handle;
    const size_t firstWrite = firstCall([](const SimCall& c) { return c.name == "WriteFile"; });
    const size_t closeDrive = firstCall([drive](const SimCall& c) {
        return c.name == "CloseHandle" && c.handle == drive;
    });
    const size_t openVolume = firstCall([](const SimCall& c) {
        return c.name == "CreateFileW" && c.path == "\\\\.\\E:" && c.access != 0;
    });
    ASSERT_LT(openVolume, sim.calls().size());
    const platform::Handle volume = sim.calls()[openVolume].handle;
    const size_t unlock = firstCall([volume](const SimCall& c) {
        return c.name == "DeviceIoControl" && c.code == platform::FSCTL_UNLOCK_VOLUME &&
               c.handle == volume;
    });
    const size_t search = firstCall([](const SimCall& c) { return c.name == "QueryDosDeviceW"; });

    EXPECT_LT(openVolume, lock);
    EXPECT_LT(lock, openDrive);
    EXPECT_LT(openDrive, firstWrite);
    EXPECT_LT(firstWrite, closeDrive);
    EXPECT_LT(closeDrive, unlock);
    EXPECT_LT(unlock, search);
    EXPECT_LT(search, sim.calls().size());
}

// Tried again for 5 s, as another program may hold the drive for a moment.
TEST_F(InstallationTest, DriveThatOpensButCannotBeLockedIsReleased) {
    sim.faults().refuseDriveLock = true;
    run();
    expectFailedWith(failedAfter(0));
    EXPECT_EQ(sim.debugLines(),
              (Lines{"Lock of \\\\.\\PhysicalDrive1 refused: 5\n", "Failed to open disk\n"}));
    EXPECT_EQ(sim.GetTickCount64(), uint64_t(DRIVE_RETRY_MS));
    EXPECT_EQ(sim.writeCount(), 0u);
}

TEST_F(InstallationTest, PartitionTableWriteFails) {
    sim.faults().failWriteAtLba.insert(0);
    run();
    expectFailedWith(failedAfter(1));
    EXPECT_EQ(sim.debugLines(), (Lines{"Failed partitioning disk\n", FAILING_CARD}));
}

TEST_F(InstallationTest, BootPartitionFormatFails) {
    failWritesFrom("Formatting boot partition...");
    run();
    expectFailedWith(failedAfter(2));
    ASSERT_GE(sim.debugLines().size(), 2u);
    EXPECT_EQ(sim.debugLines().end()[-2], "Failed formatting disk 0\n");
    EXPECT_EQ(sim.debugLines().back(), FAILING_CARD);
}

TEST_F(InstallationTest, DataPartitionFormatFails) {
    failWritesFrom("Formatting data partition...");
    run();
    expectFailedWith(failedAfter(3));
    ASSERT_GE(sim.debugLines().size(), 2u);
    EXPECT_EQ(sim.debugLines().end()[-2], "Failed formatting disk 1\n");
    EXPECT_EQ(sim.debugLines().back(), FAILING_CARD);
}

TEST_F(InstallationTest, UnreadablePartitionTable) {
    report.onChange = [this](const std::string& shown) {
        if (shown == "Formatting boot partition...") sim.faults().failReadAtLba.insert(0);
    };
    run();
    expectFailedWith(failedAfter(2));
    ASSERT_GE(sim.debugLines().size(), 2u);
    EXPECT_EQ(sim.debugLines().end()[-2], "Failed formatting disk 0\n");
    EXPECT_EQ(sim.debugLines().back(), FAILING_CARD);
}

TEST_F(InstallationTest, BootLoaderWriteFailsAndTheDriveIsStillReleased) {
    failWritesFrom("Writing bootloader...");
    run();
    expectFailedWith(failedAfter(indexOf(successHistory(), "Writing bootloader...") + 2));
    for (const std::string& line : sim.debugLines()) EXPECT_EQ(line.find("Copy failed"), std::string::npos);
}

TEST_F(InstallationTest, BootVolumeMissing) {
    sim.removeVolume('E');
    run();
    const History good = successHistory();
    expectFailedWith(failedAfter(indexOf(good, "Copying files...") + 1));
    EXPECT_EQ(sim.debugLines(), Lines{"Boot volume of disk 1 did not appear\n"});
}

// " in A, B or C": the working folder `work`, then every other folder the
// wizard looks for its payload in on this platform (no program folder here).
std::string lookedIn(const std::string& work) {
    QStringList places{QDir(QString::fromStdString(work)).absolutePath()};
    for (const PayloadFolder& folder : wizardPayloadFolders(QString()))
        if (folder.described != "the working folder" && !folder.path.isEmpty()) places << folder.path;
    std::string text = " in ";
    for (int i = 0; i < places.size(); ++i)
        text += (i == 0 ? "" : i + 1 == places.size() ? " or " : ", ") +
                QDir::toNativeSeparators(places[i]).toStdString();
    return text;
}

// What can be known before the card is touched stops the run there: nothing
// is locked, opened for writing or written, and the page goes from nothing
// to the error text.
TEST_F(InstallationTest, WhatCanBeKnownBeforehandStopsTheRunWithTheCardUntouched) {
    const std::string sep(1, QDir::separator().toLatin1());
    struct Case {
        const char* what;
        std::function<void()> change;
        std::string line;
        std::string cause = {};  // the sentence the drive probed again gives, if any
    };
    const Case cases[] = {
        {"drive cannot be opened", [this] { sim.faults().refuseOpenDrive.insert(CARD); },
         "Drive 1 cannot be opened to check it: 5\n",
         "Writing to drive 1 needs administrator (root) rights. Start the program as "
         "administrator (or with sudo) and try again.\n"},
        {"boot folder missing", [this] { fs::remove_all(temp.file("work/files/boot")); },
         "Boot folder files" + sep + "boot not found" + lookedIn(temp.file("work")) + "\n"},
        {"firmware missing", [this] { fs::remove(temp.file("work/firmware/t6-board.fw")); },
         "Firmware firmware" + sep + "t6-board.fw not found" + lookedIn(temp.file("work")) + "\n"},
        {"no stage 2 in the boot folder",
         [this] { writeWholeFile(temp.file("work/files/boot/grub/stage2"), ""); },
         "The boot folder " + QDir::toNativeSeparators(QDir(QString::fromStdString(temp.file("work/files/boot"))).absolutePath()).toStdString() +
             " holds no grub/stage2 with content; the card would not boot.\n"},
        {"firmware empty", [this] { writeWholeFile(temp.file("work/firmware/t6-board.fw"), ""); },
         "Firmware firmware" + sep + "t6-board.fw is empty\n"},
        {"another product in the reader", [this] { sim.drive(CARD).product = "CF Reader 2"; },
         "Drive 1 is no longer the listed Kestrel  CF Reader of 4000000000 bytes\n"},
        {"another size in the reader",
         [this] { makeSparseFile(temp.file("card.img"), CARD_BYTES / 2); },
         "Drive 1 is no longer the listed Kestrel  CF Reader of 4000000000 bytes\n"},
        {"no longer removable", [this] { sim.drive(CARD).removable = false; },
         "Drive 1 does not hold removable media\n"},
        {"card taken out", [this] { sim.drive(CARD).media = false; },
         "Drive 1 holds no media\n",
         "There is no card in the reader of drive 1. Insert the card and try again.\n"},
        {"write-protected card", [this] { sim.drive(CARD).writeProtected = true; },
         "Drive 1 is write-protected\n",
         "The card in drive 1 is write-protected (by the card, its adapter or the reader); "
         "nothing was written to it.\n"},
        // 300 MB of boot files for a boot volume of about 250 MiB.
        {"payload larger than the boot volume",
         [this] { makeSparseFile(temp.file("work/files/boot/big"), 300000000); },
         "The boot files need 73272 clusters of 4096 bytes; the boot volume has 64161\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The machine and the sources as SetUp left them.
        sim.faults() = platform::SimFaults();
        sim.clearDebugLines();
        sim.clearCalls();
        report = RecordingReport();
        fs::remove_all(temp.file("work"));
        SetUp();
        c.change();
        run();
        expectFailedWith(failedAfter(0));
        Lines expected{c.line};
        if (!c.cause.empty()) expected.push_back(c.cause);
        EXPECT_EQ(sim.debugLines(), expected);
        EXPECT_EQ(sim.writeCount(), 0u);
        EXPECT_EQ(firstCall([](const platform::SimCall& call) {
                      return (call.name == "CreateFileA" && call.shareMode == 0) ||
                             (call.name == "DeviceIoControl" && call.code == platform::FSCTL_LOCK_VOLUME);
                  }),
                  sim.calls().size());
    }
}

// Closing the handle ends the lock all the same: the refusal is only logged.
TEST_F(InstallationTest, RefusedUnlockIsLoggedAndTheRunGoesOn) {
    sim.faults().refuseUnlock.insert('E');
    run();
    EXPECT_EQ(report.history, successHistory());
    EXPECT_EQ(sim.debugLines(), Lines{"UNLOCK_VOLUME 1 failed: 5\n"});
    EXPECT_EQ(readWholeFile(onCard("boot/bzImage")), "FIRMWARE IMAGE");
    expectNothingHeld();
}

TEST_F(InstallationTest, RefusedDismountDoesNotFailTheRun) {
    addVolume('F', CARD);
    sim.faults().refuseDismount.insert('E');
    run();
    EXPECT_FALSE(report.failed());
    EXPECT_EQ(report.history, successHistory());
    EXPECT_EQ(sim.debugLines(), Lines{"DISMOUNT_VOLUME for \\\\.\\E: failed: 5\n"});
    EXPECT_EQ(readWholeFile(onCard("boot/bzImage")), "FIRMWARE IMAGE");
    expectNothingHeld();
    EXPECT_FALSE(sim.volumeLocked('F'));
}

// A volume of the card left mounted (its lock refused, or a third one, which
// is never held) could later write its cached state over the new card: the
// run stops before the drive is opened, and the volumes it held go back.
class VolumeLeftMountedTest : public InstallationTest, public testing::WithParamInterface<bool> {};

TEST_P(VolumeLeftMountedTest, StopsTheRunBeforeTheDriveIsOpened) {
    const bool third = GetParam();
    addVolume('F', CARD);
    if (third)
        addVolume('G', CARD);
    else
        sim.faults().refuseVolumeLock.insert('F');
    run();
    expectFailedWith(failedAfter(0));
    Lines lines = {"Failed to take the volumes of the disk\n"};
    if (!third) {
        lines.insert(lines.begin(), {"LOCK_VOLUME for \\\\.\\F: failed: 5\n",
                                     "LOCK_VOLUME for \\\\.\\F: after a dismount failed: 5\n"});
        lines.push_back("The card's volume at " + temp.file("volF") +
                        " is busy: a program has files open on it. Close them (or unmount the "
                        "volume) and try again.\n");
    }
    EXPECT_EQ(sim.debugLines(), lines);
    EXPECT_EQ(firstCall([](const platform::SimCall& c) { return c.name == "CreateFileA" && c.shareMode == 0; }),
              sim.calls().size());
    EXPECT_EQ(sim.writeCount(), 0u);
    EXPECT_FALSE(sim.volumeLocked('F'));
    EXPECT_FALSE(sim.volumeLocked('G'));
}

INSTANTIATE_TEST_SUITE_P(LockRefusedOrThirdVolume, VolumeLeftMountedTest, testing::Bool());

// Cards that do not keep what they are given: each run fails with the line
// that names the sector, shows nothing as success, and a card caught by the
// capacity probe keeps its old bytes where the probe wrote.
TEST_F(InstallationTest, CardThatDoesNotKeepItsDataFailsTheRun) {
    constexpr uint64_t SECTORS = CARD_BYTES / 512;  // 7,812,500
    struct Case {
        const char* name;
        uint64_t wrapSectors;
        uint64_t garbled;  // 0: none
        size_t shownBeforeFailure;
        Lines lines;
    };
    const Case cases[] = {
        {"sector of the boot volume reads back different", 0, 300, 2,
         {"Sector 300 does not read back as written\n", "Failed formatting disk 0\n", FAILING_CARD}},
        {"card wraps at 2 GiB", 1u << 22, 0, 1,
         {"Card reports 7812500 sectors but does not keep data written at sector 7812499\n",
          "Failed partitioning disk\n"}},
        {"card holds half of what it reports", SECTORS / 2, 0, 1,
         {"Card reports 7812500 sectors but does not keep data written at sector 3906249\n",
          "Failed partitioning disk\n"}},
        // Writes the card acknowledges but does not store, found by reading it back.
        {"card drops the payload's writes", 0, 0, successHistory().size() - 1,
         {"Read back from the card: boot/filler differs from the payload\n",
          "The card in drive 1 does not hold what was written: boot/filler differs from the "
          "payload. The card is faulty; use another.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        report = RecordingReport();
        sim.clearDebugLines();
        sim.faults() = platform::SimFaults();
        sim.faults().wrapSectors = c.wrapSectors;
        if (c.garbled != 0) sim.faults().garbleWriteAtLba.insert(c.garbled);
        ASSERT_TRUE(makeSparseFile(temp.file("card.img"), CARD_BYTES));
        const bool changesPayload = c.shownBeforeFailure == successHistory().size() - 1;
        // Past the boot volume's FATs and folders, inside the 4 MB file that follows them.
        sim.drive(CARD).dropsWritesSectors = changesPayload ? 1000 : 0;
        sim.drive(CARD).dropsWritesFrom = 2000;
        if (changesPayload)
            writeWholeFile(temp.file("work/files/boot/filler"), std::string(4 << 20, 'f'));
        run();
        if (changesPayload) {
            EXPECT_TRUE(report.failed());
            EXPECT_EQ(report.history, failedAfter(c.shownBeforeFailure));
            expectNothingHeld();
        } else {
            expectFailedWith(failedAfter(c.shownBeforeFailure));
        }
        EXPECT_EQ(sim.debugLines(), c.lines);
        if (c.wrapSectors != 0) {
            sim.faults() = platform::SimFaults();
            std::ifstream image(temp.file("card.img"), std::ios::binary);
            std::string bytes(512, '\0');
            for (uint64_t lba : {uint64_t(0), (SECTORS - 1) % c.wrapSectors, (SECTORS - 1) / 2}) {
                image.seekg(static_cast<std::streamoff>(lba * 512));
                image.read(&bytes[0], 512);
                EXPECT_EQ(bytes, std::string(512, '\0')) << "sector " << lba;
            }
        }
    }
}

}  // namespace
