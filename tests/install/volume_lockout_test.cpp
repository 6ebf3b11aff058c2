#include "install/volume_lockout.h"

#include "install/retry_wait.h"

#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using platform::INVALID_HANDLE_VALUE;
using Lines = std::vector<std::string>;

class VolumeLockoutTest : public ::testing::Test {
protected:
    static constexpr int CARD = 2;
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    TempDir temp;
    RetryWait wait;

    // Retries wait on the machine's clock, which moves only when they do.
    void SetUp() override { sim.setVirtualClock(true); }

    // A volume of its own sectors (each letter apart, '\0' after them).
    std::string volume(char letter, int driveNumber, bool heldOpen = false) {
        platform::SimVolume v;
        v.directory = temp.file(std::string(1, letter == '\0' ? '_' : letter));
        v.driveNumber = driveNumber;
        v.startSector = 1000 * uint64_t(letter == '\0' ? 'Z' + 1 : letter);
        v.sectors = 1000;
        v.heldOpen = heldOpen;
        return sim.addVolume(letter, v);
    }
    bool opened(char letter) const {
        const std::string path = std::string("\\\\.\\") + letter + ":";
        return std::any_of(sim.calls().begin(), sim.calls().end(), [&](const platform::SimCall& c) {
            return c.name == "CreateFileW" && c.path == path;
        });
    }
};

TEST_F(VolumeLockoutTest, TwoLowestLettersOfTheCardAreKeptAThirdIsOnlyNoted) {
    volume('C', 0);
    volume('E', CARD);
    volume('F', CARD);
    volume('G', CARD);
    volume('H', CARD);
    KeptVolumes kept = lockDriveVolumes(CARD, wait);

    EXPECT_NE(kept.first, INVALID_HANDLE_VALUE);
    EXPECT_NE(kept.second, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sim.volumeLocked('E'));
    EXPECT_TRUE(sim.volumeLocked('F'));
    EXPECT_FALSE(sim.volume('E').mounted);
    EXPECT_FALSE(sim.volume('F').mounted);
    // The third volume of the card is found, left mounted and noted; the
    // scan ends there.
    EXPECT_TRUE(opened('G'));
    EXPECT_FALSE(sim.volumeLocked('G'));
    EXPECT_TRUE(sim.volume('G').mounted);
    EXPECT_EQ(kept.third, 'G');
    EXPECT_EQ(kept.refused, '\0');
    EXPECT_FALSE(kept.whole());
    EXPECT_FALSE(opened('H'));
    // The system disk's volume was looked at and let go.
    EXPECT_TRUE(opened('C'));
    EXPECT_FALSE(sim.volumeLocked('C'));
    EXPECT_TRUE(sim.volume('C').mounted);
    EXPECT_EQ(sim.openHandleCount(), 2);
    EXPECT_TRUE(sim.debugLines().empty());

    // Where a volume lies is asked without access rights; the ones taken
    // are opened for reading and writing.
    int taken = 0;
    for (const auto& call : sim.calls()) {
        if (call.name != "CreateFileW") continue;
        EXPECT_EQ(call.shareMode, 3u);
        EXPECT_EQ(call.disposition, 3u);
        if (call.access == 0) continue;
        ++taken;
        EXPECT_EQ(call.access, 0xC0000000u);
        EXPECT_EQ(call.flags, 0x20000000u);
    }
    EXPECT_EQ(taken, 2);

    EXPECT_TRUE(unlockDriveVolumes(kept));
    EXPECT_EQ(kept.first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(kept.second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.openHandleCount(), 0);
    EXPECT_FALSE(sim.volumeLocked('E'));
    EXPECT_FALSE(sim.volumeLocked('F'));
}

TEST_F(VolumeLockoutTest, CardWithoutVolumesKeepsNothing) {
    volume('C', 0);
    KeptVolumes kept = lockDriveVolumes(CARD, wait);
    EXPECT_EQ(kept.first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(kept.second, INVALID_HANDLE_VALUE);
    sim.clearCalls();
    EXPECT_TRUE(unlockDriveVolumes(kept));
    EXPECT_TRUE(sim.calls().empty());
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(VolumeLockoutTest, RefusalsAreLoggedAndTheVolumeLeftAlone) {
    volume('D', CARD);  // cannot be opened for the lock: refused
    volume('E', -1);    // no disk behind the letter (a network mapping): no line
    volume('F', CARD);  // busy: lock refused, then the dismount, and the lock after it
    volume('H', CARD);
    sim.faults().refuseVolumeOpen.insert('D');
    sim.faults().refuseVolumeLock.insert('F');
    sim.faults().refuseDismount.insert('F');
    KeptVolumes kept = lockDriveVolumes(CARD, wait);

    EXPECT_EQ(sim.debugLines(), (Lines{"Open of \\\\.\\D: failed: 5\n",
                                       "LOCK_VOLUME for \\\\.\\F: failed: 5\n",
                                       // The dismount and the lock after it, tried four times.
                                       "DISMOUNT_VOLUME for \\\\.\\F: without a lock failed: 5\n",
                                       "DISMOUNT_VOLUME for \\\\.\\F: without a lock failed: 5\n",
                                       "DISMOUNT_VOLUME for \\\\.\\F: without a lock failed: 5\n",
                                       "DISMOUNT_VOLUME for \\\\.\\F: without a lock failed: 5\n",
                                       "LOCK_VOLUME for \\\\.\\F: after a dismount failed: 5\n"}));
    EXPECT_TRUE(sim.volume('D').mounted);
    EXPECT_FALSE(sim.volumeLocked('F'));
    EXPECT_EQ(kept.refused, 'D');
    EXPECT_FALSE(kept.whole());
    EXPECT_TRUE(sim.volumeLocked('H'));
    EXPECT_NE(kept.first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(kept.second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.openHandleCount(), 1);
    EXPECT_TRUE(unlockDriveVolumes(kept));
    EXPECT_EQ(sim.openHandleCount(), 0);
}

// A program holding files open on the card refuses the lock: it is tried
// again for 3 s, then the volume is taken by a dismount. A volume mounted
// without a letter is found by its name.
TEST_F(VolumeLockoutTest, HeldVolumeIsTakenByADismountAndOneWithoutALetterIsFound) {
    volume('C', 0);
    volume('E', CARD, true);
    const std::string unnamed = volume('\0', CARD);
    KeptVolumes kept = lockDriveVolumes(CARD, wait);

    EXPECT_TRUE(kept.whole());
    EXPECT_TRUE(sim.volumeLocked('E'));
    EXPECT_NE(kept.second, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(sim.volumeNamed(unnamed).mounted);
    EXPECT_EQ(sim.debugLines(), (Lines{"LOCK_VOLUME for \\\\.\\E: failed: 5\n",
                                       "LOCK_VOLUME for \\\\.\\E: taken after a dismount\n"}));
    EXPECT_EQ(sim.GetTickCount64(), uint64_t(VOLUME_LOCK_RETRY_MS));
    EXPECT_TRUE(unlockDriveVolumes(kept));
    EXPECT_EQ(sim.openHandleCount(), 0);

    // Two volumes with letters fill the slots: the one without is one too many.
    volume('F', CARD);
    kept = lockDriveVolumes(CARD, wait);
    EXPECT_TRUE(kept.unnamedLeft);
    EXPECT_FALSE(kept.whole());
    EXPECT_TRUE(unlockDriveVolumes(kept));
}

TEST_F(VolumeLockoutTest, ExtentsQueryRefusalCarriesTheErrorCode) {
    volume('K', CARD);
    sim.faults().refuseExtents.insert('K');
    sim.faults().error = platform::ERROR_MORE_DATA;
    KeptVolumes kept = lockDriveVolumes(CARD, wait);
    EXPECT_EQ(kept.first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.debugLines(), Lines{"GET_VOLUME_DISK_EXTENTS for \\\\.\\K: failed: 234\n"});
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(VolumeLockoutTest, RefusedDismountStillKeepsTheLockedVolume) {
    volume('E', CARD);
    sim.faults().refuseDismount.insert('E');
    KeptVolumes kept = lockDriveVolumes(CARD, wait);
    EXPECT_EQ(sim.debugLines(), Lines{"DISMOUNT_VOLUME for \\\\.\\E: failed: 5\n"});
    EXPECT_NE(kept.first, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sim.volumeLocked('E'));
    EXPECT_TRUE(unlockDriveVolumes(kept));
    EXPECT_FALSE(sim.volumeLocked('E'));
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(VolumeLockoutTest, RefusedUnlocksAreLoggedPerSlotAndEveryHandleCloses) {
    volume('E', CARD);
    volume('F', CARD);
    {
        sim.faults().refuseUnlock = {'E'};
        KeptVolumes kept = lockDriveVolumes(CARD, wait);
        EXPECT_FALSE(unlockDriveVolumes(kept));
        EXPECT_EQ(sim.debugLines(), Lines{"UNLOCK_VOLUME 1 failed: 5\n"});
        EXPECT_EQ(sim.openHandleCount(), 0);
        EXPECT_EQ(kept.first, INVALID_HANDLE_VALUE);
    }
    sim.clearDebugLines();
    {
        sim.faults().refuseUnlock = {'F'};
        KeptVolumes kept = lockDriveVolumes(CARD, wait);
        EXPECT_FALSE(unlockDriveVolumes(kept));
        EXPECT_EQ(sim.debugLines(), Lines{"UNLOCK_VOLUME 2 failed: 5\n"});
        EXPECT_EQ(sim.openHandleCount(), 0);
    }
    sim.clearDebugLines();
    {
        sim.faults().refuseUnlock = {'E', 'F'};
        KeptVolumes kept = lockDriveVolumes(CARD, wait);
        EXPECT_FALSE(unlockDriveVolumes(kept));
        EXPECT_EQ(sim.debugLines(), (Lines{"UNLOCK_VOLUME 1 failed: 5\n", "UNLOCK_VOLUME 2 failed: 5\n"}));
        EXPECT_EQ(sim.openHandleCount(), 0);
    }
}

}  // namespace
