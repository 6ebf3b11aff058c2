#include "platform/sim_platform.h"
#include "util/debug.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class DebugLines : public ::testing::Test {
protected:
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
};

TEST_F(DebugLines, PassesTextUnchangedWithoutPrefix) {
    debugPrint("Failed to open disk\n");
    debugPrint("Create file %s failed: %i\n", "\\\\.\\PhysicalDrive1", 5);
    ASSERT_EQ(sim.debugLines().size(), 2u);
    EXPECT_EQ(sim.debugLines()[0], "Failed to open disk\n");
    EXPECT_EQ(sim.debugLines()[1], "Create file \\\\.\\PhysicalDrive1 failed: 5\n");
}

TEST_F(DebugLines, OverLongLineIsCutAndTerminated) {
    const std::string longText(2000, 'x');
    debugPrint("%s\n", longText.c_str());
    ASSERT_EQ(sim.debugLines().size(), 1u);
    EXPECT_EQ(sim.debugLines()[0], std::string(511, 'x'));
}

int checkedValue(const int* pointer) {
    ASSERT(pointer);
    return *pointer;
}

class AssertDeathTest : public DebugLines {
protected:
    // The dying child's lines are seen only through its standard error.
    void SetUp() override { sim.setEchoDebug(true); }
};

TEST_F(AssertDeathTest, FailedConditionReportsAndAborts) {
    int* installPage = nullptr;
    EXPECT_DEATH(
        {
            ASSERT(installPage);
            std::fputs("unreachable\n", stderr);
        },
        "Error Assert: 'installPage' is FALSE at line .+ in file .*debug_test.cpp");
}

TEST_F(AssertDeathTest, ConditionTextKeptCharacterForCharacter) {
    EXPECT_DEATH(ASSERT(1 + 1 != 2), "Error Assert: '1 \\+ 1 != 2' is FALSE at line");
}

TEST(Assert, HoldingConditionEvaluatedOnce) {
    int calls = 0;
    auto once = [&] { return ++calls; };
    ASSERT(once());
    EXPECT_EQ(calls, 1);
    int value = 7;
    EXPECT_EQ(checkedValue(&value), 7);
}

}  // namespace
