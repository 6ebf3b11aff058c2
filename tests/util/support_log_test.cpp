// The support log's folder: one file per run, the newest kept, nothing else
// in the folder touched; and the header line rewritten when the drive is known.
#include "support/temp_dir.h"
#include "util/debug.h"
#include "util/support_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// "t6-card-20250101-000000-007.log": an earlier run's log, the seventh of that second.
std::string earlierLog(int index) {
    char name[64];
    std::snprintf(name, sizeof name, "t6-card-20250101-000000-%03d.log", index);
    return name;
}

TEST(SupportLogRotation, KeepsTheNewestRunsAndNothingElseChanges) {
    struct Row {
        int earlier;   // logs of earlier runs in the folder
        int removed;   // the oldest of them that go
    };
    const Row rows[] = {{0, 0}, {1, 0}, {18, 0}, {19, 0}, {20, 1}, {27, 8}};
    // Not the program's logs: another program's, a near name, a log folder.
    const std::vector<std::string> others = {"t6-card.log", "t6-card-notes.log",
                                             "zel_recovery_wizard-20250101-000000-000.log",
                                             "t6-card-20250101-000000-000.txt"};
    for (const Row& row : rows) {
        TempDir dir;
        const fs::path folder = fs::path(dir.path()) / "state" / "t6-card";
        fs::create_directories(folder / "t6-card-20240101-000000-000.log");
        for (const std::string& name : others) std::ofstream(folder / name) << "keep";
        for (int i = 0; i < row.earlier; ++i) std::ofstream(folder / earlierLog(i)) << i;

        const SupportLogStart start = openRunLogIn(folder, "t6-card", SUPPORT_LOGS_KEPT, "header");
        ASSERT_TRUE(start.opened) << start.problem;
        const fs::path file = start.file;
        ASSERT_EQ(file.parent_path(), folder);
        closeSupportLog();

        std::vector<std::string> expected = others;
        expected.push_back("t6-card-20240101-000000-000.log");
        for (int i = row.removed; i < row.earlier; ++i) expected.push_back(earlierLog(i));
        expected.push_back(file.filename().string());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(namesIn(folder), expected) << row.earlier << " earlier runs";
        // This run's name sorts after every earlier run's.
        EXPECT_GT(file.filename().string(), earlierLog(99));
    }
}

TEST(SupportLogRotation, MakesItsFolderAndNamesEachRunApart) {
    TempDir dir;
    const fs::path folder = fs::path(dir.path()) / "a" / "b";
    std::vector<std::string> made;
    for (int run = 0; run < 3; ++run) {
        const SupportLogStart start =
            openRunLogIn(folder, "t6-card", SUPPORT_LOGS_KEPT, "run " + std::to_string(run));
        ASSERT_TRUE(start.opened) << start.problem;
        closeSupportLog();
        made.push_back(start.file.filename().string());
    }
    EXPECT_EQ(namesIn(folder), made);  // three files, in the order of the runs
    // A folder that cannot be made (a file is in the way) gives no log file,
    // and says why.
    std::ofstream(fs::path(dir.path()) / "plain") << "x";
    const SupportLogStart blocked =
        openRunLogIn(fs::path(dir.path()) / "plain" / "t6-card", "t6-card", 20, "header");
    EXPECT_FALSE(blocked.opened);
    EXPECT_FALSE(blocked.problem.empty());
    EXPECT_EQ(supportLogProblem(), blocked.problem);
}

#ifndef _WIN32
// Links planted in the log folder under the names the next runs would take,
// and the folder itself a link: the run writes, removes and creates nothing
// through them.
TEST(SupportLogRotation, FollowsNoLinkInItsFolder) {
    TempDir dir;
    const fs::path folder = fs::path(dir.path()) / "t6-card";
    const fs::path elsewhere = fs::path(dir.path()) / "elsewhere";
    fs::create_directories(folder);
    fs::create_directories(elsewhere);
    // Every name of the next half second points out of the folder.
    const auto now = std::chrono::system_clock::now();
    for (int ms = 0; ms < 500; ++ms) {
        const auto at = now + std::chrono::milliseconds(ms);
        const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::gmtime(&seconds));
        const long long millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
        char name[80];
        std::snprintf(name, sizeof name, "t6-card-%s-%03lld.log", stamp, millis);
        fs::create_symlink(elsewhere / name, folder / name);
    }
    const SupportLogStart start = openRunLogIn(folder, "t6-card", 1000, "header");
    ASSERT_TRUE(start.opened) << start.problem;
    closeSupportLog();
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(start.file)));
    EXPECT_TRUE(fs::is_empty(elsewhere));

    // The folder a link to another with old logs in it: no log, nothing removed.
    const fs::path linked = fs::path(dir.path()) / "linked";
    fs::create_directory_symlink(elsewhere, linked);
    for (int i = 0; i < 30; ++i) std::ofstream(elsewhere / earlierLog(i)) << i;
    const SupportLogStart refused = openRunLogIn(linked, "t6-card", 20, "header");
    EXPECT_FALSE(refused.opened);
    EXPECT_NE(refused.problem.find("symbolic link"), std::string::npos) << refused.problem;
    EXPECT_EQ(namesIn(elsewhere).size(), 30u);
}
#endif

TEST(SupportLogHeader, ANewHeaderKeepsTheLinesAfterIt) {
    TempDir dir;
    const std::string file = dir.file("run.log");
    ASSERT_TRUE(openNamedSupportLog(file, "wizard; drive: none chosen").opened);
    debugPrint("first %d\n", 1);
    setSupportLogHeader("wizard; drive: 1: CF 4 GB");
    debugPrint("second\n");
    closeSupportLog();
    debugPrint("after the log\n");
    const std::string text = readWholeFile(file);
    const std::string header = "wizard; drive: 1: CF 4 GB\n";
    ASSERT_EQ(text.compare(0, header.size(), header), 0) << text;
    const std::size_t first = text.find(" first 1\n"), second = text.find(" second\n");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_GT(second, first) << text;
    EXPECT_EQ(text.find("after the log"), std::string::npos) << text;
    EXPECT_EQ(text.find("none chosen"), std::string::npos) << text;
}

}  // namespace
