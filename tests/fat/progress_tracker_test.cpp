#include "fat/progress_tracker.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// Everything the callbacks saw, in order: "show" or "done/total".
struct Recorder {
    std::vector<std::string> events;
    uint32_t* shownFirst = nullptr;
    uint32_t* shownSecond = nullptr;
};

void onProgress(uint32_t done, uint32_t total, void* user)
{
    static_cast<Recorder*>(user)->events.push_back(std::to_string(done) + "/" +
                                                   std::to_string(total));
}

void onShow(uint32_t* first, uint32_t* second, void* user)
{
    auto* recorder = static_cast<Recorder*>(user);
    recorder->events.push_back("show");
    recorder->shownFirst = first;
    recorder->shownSecond = second;
}

class ProgressTrackerTest : public testing::Test {
protected:
    ProgressTracker tracker{onProgress, onShow, &recorder, [this] { return nowNs; }};
    Recorder recorder;
    int64_t nowNs = 5'000'000'000;  // any origin: only differences count
    void advanceMs(int64_t ms) { nowNs += ms * 1'000'000; }
    using Events = std::vector<std::string>;
};

TEST_F(ProgressTrackerTest, NestedLevelsCombineIntoOneFigure)
{
    tracker.begin(2, 0);
    EXPECT_EQ(recorder.events, (Events{"0/2", "show"}));
    EXPECT_EQ(recorder.shownFirst, &tracker.showArgs[0]);
    EXPECT_EQ(recorder.shownSecond, &tracker.showArgs[1]);
    recorder.events.clear();

    tracker.update(1);
    tracker.begin(4, 0);  // a nested level reports nothing by itself
    tracker.update(1);
    tracker.update(3);
    tracker.end();  // 8/8 with two levels open is dropped
    ASSERT_EQ(tracker.levels.size(), 1u);
    tracker.end();
    EXPECT_EQ(recorder.events, (Events{"1/2", "5/8", "7/8", "2/2"}));
    EXPECT_TRUE(tracker.levels.empty());
}

TEST_F(ProgressTrackerTest, ReportsFallBackToTheOuterLevelAfterANestedOneCloses)
{
    tracker.begin(3, 0);
    tracker.begin(10, 0);
    tracker.update(5);
    tracker.end();  // the finished inner level counts whole: 10 of 30
    tracker.update(2);
    tracker.begin(2, 0);
    tracker.update(1);
    EXPECT_EQ(recorder.events, (Events{"0/3", "show", "5/30", "10/30", "2/3", "5/6"}));
}

TEST_F(ProgressTrackerTest, OnlyEndCompletesALevel)
{
    tracker.begin(4, 0);
    recorder.events.clear();
    tracker.update(0);
    tracker.update(4);
    tracker.update(9);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(tracker.levels.back().position, 0u);
    tracker.update(3);
    tracker.end();
    EXPECT_EQ(recorder.events, (Events{"3/4", "4/4"}));
}

TEST_F(ProgressTrackerTest, AnEmptyLevelGivesZeroOfZeroOnlyWhenAlone)
{
    tracker.begin(0, 0);
    EXPECT_EQ(recorder.events, (Events{"0/0", "show"}));
    recorder.events.clear();
    tracker.end();
    tracker.begin(5, 0);
    tracker.update(2);
    tracker.begin(0, 0);
    tracker.end();  // (0, 0) with two levels open: dropped
    tracker.update(3);
    EXPECT_EQ(recorder.events, (Events{"0/0", "0/5", "show", "2/5", "3/5"}));
}

TEST_F(ProgressTrackerTest, WorkEndingInsideTheDelayReportsNothing)
{
    tracker.begin(10, 500);
    advanceMs(50);
    tracker.update(3);
    advanceMs(49);
    tracker.end();
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(tracker.showPending);
}

TEST_F(ProgressTrackerTest, AfterTheDelayEveryReportShowsAgain)
{
    tracker.begin(10, 500);
    advanceMs(499);
    tracker.update(1);
    EXPECT_TRUE(recorder.events.empty());
    advanceMs(101);
    tracker.update(2);
    tracker.update(3);
    tracker.end();
    EXPECT_EQ(recorder.events,
              (Events{"show", "2/10", "show", "3/10", "show", "10/10"}));
}

TEST_F(ProgressTrackerTest, TheDelayEndsExactlyWhenItHasPassed)
{
    tracker.begin(10, 1);
    advanceMs(1);
    tracker.update(4);
    EXPECT_EQ(recorder.events, (Events{"show", "4/10"}));
}

TEST_F(ProgressTrackerTest, SuppressedShowIsNeverCalled)
{
    tracker.showSuppressed = true;
    tracker.begin(2, 0);
    tracker.end();
    tracker.begin(2, 100);
    advanceMs(200);
    tracker.update(1);
    EXPECT_EQ(recorder.events, (Events{"0/2", "2/2", "1/2"}));
    EXPECT_FALSE(tracker.showPending);
}

TEST_F(ProgressTrackerTest, EachOutermostLevelRestartsTheClock)
{
    tracker.begin(2, 0);
    tracker.end();
    recorder.events.clear();
    advanceMs(10000);
    tracker.begin(2, 300);
    advanceMs(100);
    tracker.update(1);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(tracker.delayMs, 300);
    EXPECT_EQ(tracker.startTime, nowNs - 100'000'000);
}

TEST(ProgressTrackerWithoutCallback, DoesNothing)
{
    Recorder recorder;
    ProgressTracker tracker(nullptr, onShow, &recorder, [] { return int64_t(0); });
    tracker.begin(3, 0);
    tracker.update(1);
    tracker.end();
    tracker.end();
    EXPECT_TRUE(tracker.levels.empty());
    EXPECT_TRUE(recorder.events.empty());
}

TEST(ProgressScopeGuardTest, ClosesTheLevelOnEveryWayOut)
{
    Recorder recorder;
    ProgressTracker tracker(onProgress, nullptr, &recorder, [] { return int64_t(0); });
    tracker.begin(4, 0);
    {
        tracker.begin(2, 0);
        ProgressScopeGuard guard(&tracker);
    }
    EXPECT_EQ(tracker.levels.size(), 1u);
    EXPECT_THROW(
        {
            ProgressScopeGuard guard(&tracker);
            throw std::runtime_error("out of memory");
        },
        std::runtime_error);
    EXPECT_TRUE(tracker.levels.empty());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"0/4", "2/8", "4/4"}));
    ProgressScopeGuard noTracker(nullptr);
}

}  // namespace
