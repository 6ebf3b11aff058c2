// The support log's folder: one file per run, the newest kept, nothing else
// in the folder touched; and the header line rewritten when the drive is known.
#include "support/temp_dir.h"
#include "util/debug.h"
#include "util/support_log.h"

#include <gtest/gtest.h>

#include <algorithm>
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

        const fs::path file = newRunLogFile(folder, "t6-card", SUPPORT_LOGS_KEPT);
        ASSERT_EQ(file.parent_path(), folder);
        ASSERT_FALSE(fs::exists(file));
        ASSERT_TRUE(openSupportLog(file, "header"));
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
        const fs::path file = newRunLogFile(folder, "t6-card", SUPPORT_LOGS_KEPT);
        ASSERT_TRUE(openSupportLog(file, "run " + std::to_string(run)));
        closeSupportLog();
        made.push_back(file.filename().string());
    }
    EXPECT_EQ(namesIn(folder), made);  // three files, in the order of the runs
    // A folder that cannot be made (a file is in the way) gives no log file.
    std::ofstream(fs::path(dir.path()) / "plain") << "x";
    EXPECT_TRUE(newRunLogFile(fs::path(dir.path()) / "plain" / "t6-card", "t6-card", 20).empty());
}

TEST(SupportLogHeader, ANewHeaderKeepsTheLinesAfterIt) {
    TempDir dir;
    const std::string file = dir.file("run.log");
    ASSERT_TRUE(openSupportLog(file, "wizard; drive: none chosen"));
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
