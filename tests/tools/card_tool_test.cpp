// t6-card as a technician runs it: building a card image, checking it, and
// catching an image broken in each way the check looks at.

#include "card_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string mtools(const std::string& tool, const std::string& image, const std::string& rest) {
    return "MTOOLS_SKIP_CHECK=1 " + tool + " -i " +
           shellQuoted(image + "@@" + std::to_string(TEST_BOOT_START * 512)) + " " + rest;
}

// mtools is there on Linux, not on Windows.
bool haveMtools() {
    static const bool present = haveProgram("mtype") && haveProgram("mdir") && haveProgram("mcopy");
    return present;
}

// Overwrites `bytes` at byte `offset` of a file.
void patch(const std::string& path, uint64_t offset, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file.good());
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good());
}

// `length` bytes at `offset` of a file, without reading the rest of it.
std::string readRange(const std::string& path, uint64_t offset, std::size_t length) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(length, '\0');
    file.read(&bytes[0], static_cast<std::streamsize>(length));
    return file.good() ? bytes : std::string();
}

std::string lastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

TEST(CardUsage, BadUsageExitsTwoWithTheReasonOnStandardError) {
    TempDir dir;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"wipe"},
        {"image", dir.file("x.img")},
        {"partition", "1"},
        {"format", dir.file("x.img"), "--partition", "0"},
        {"inspect", dir.file("x.img"), "--label", "x"},
    };
    for (const auto& arguments : bad) {
        const CardRun run = runCardTool(dir, arguments);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
        // One sentence, then where the usage is: never the whole usage.
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
        EXPECT_EQ(lastLine(run.err), "Try 't6-card --help' for more information.") << run.err;
    }
    // Nothing was created on the way.
    EXPECT_FALSE(std::ifstream(dir.file("x.img")).good());

    const CardRun help = runCardTool(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("t6-card inspect IMG|DRIVE"), std::string::npos);
    const CardRun version = runCardTool(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "t6-card 5.3.0\n");
}

TEST(CardUsage, AFailedOperationExitsOne) {
    TempDir dir;
    CardRun run = runCardTool(dir, {"inspect", dir.file("none.img")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "The image file " + dir.file("none.img") + " does not exist.\n");

    // Too small for the boot partition: refused before anything is written,
    // and the half-made image is not left behind.
    run = runCardTool(dir, {"image", dir.file("small.img"), "--size", "104857600"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Drive 0 of 104857600 bytes in 512-byte sectors cannot take the card's "
                           "layout\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("Finished - an error occurred"), std::string::npos) << run.out;
    EXPECT_FALSE(std::ifstream(dir.file("small.img")).good());

    // A folder is not an image file.
    run = runCardTool(dir, {"bootloader", dir.path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is not an image file"), std::string::npos) << run.err;
}

// Lines of a support log after the first, which must each begin with a time stamp.
bool allStamped(const std::vector<std::string>& lines) {
    const std::regex stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} .*");
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (!std::regex_match(lines[i], stamp)) return false;
    return lines.size() > 1;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

bool hasLineEnding(const std::vector<std::string>& lines, const std::string& end) {
    for (const std::string& line : lines)
        if (line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0)
            return true;
    return false;
}

// The log of a failed run: the header names version, OS and target; the debug
// line and the error sentence follow with their times; the screen shows the
// same as without a log, and a log that cannot be written changes no outcome.
TEST(CardLog, AFailedRunLogsItsCauseWithTimeStamps) {
    TempDir dir;
    const std::vector<std::string> small = {"image", dir.file("small.img"), "--size", "104857600"};
    const CardRun plain = runCardTool(dir, small);
    std::vector<std::string> logged = small;
    logged.insert(logged.end(), {"--log", dir.file("run.log")});
    const CardRun run = runCardTool(dir, logged);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, plain.out);
    EXPECT_EQ(run.err, plain.err);

    const std::vector<std::string> log = linesOf(readWholeFile(dir.file("run.log")));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].rfind("t6-card 5.3.0 on ", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("; drive: new image " + dir.file("small.img") + ", 104857600 bytes;"),
              std::string::npos) << log[0];
    EXPECT_TRUE(allStamped(log)) << readWholeFile(dir.file("run.log"));
    EXPECT_TRUE(hasLineEnding(log, " cannot take the card's layout"));
    EXPECT_TRUE(hasLineEnding(log, " The image " + dir.file("small.img") +
                                       " could not be built; nothing of it was left behind."));

    // Without --log: a new file in the program's folder of the user's state folder.
    const std::string state = dir.file("state");
    const CardRun missing = runCardTool(dir, {"inspect", dir.file("none.img")},
                                        {QString::fromStdString("XDG_STATE_HOME=" + state),
                                         QString::fromStdString("LOCALAPPDATA=" + state)});
    EXPECT_EQ(missing.status, 1);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(state + "/t6-card"))
        files.push_back(entry.path().string());
    ASSERT_EQ(files.size(), 1u);
    const std::vector<std::string> folderLog = linesOf(readWholeFile(files[0]));
    EXPECT_TRUE(allStamped(folderLog)) << readWholeFile(files[0]);
    EXPECT_TRUE(hasLineEnding(folderLog, " The image file " + dir.file("none.img") + " does not exist."));

    // A log that cannot be written (its folder is missing) fails nothing.
    logged.back() = dir.file("missing/run.log");
    const CardRun unwritten = runCardTool(dir, logged);
    EXPECT_EQ(unwritten.status, 1);
#ifndef _WIN32
    // The debug line that says so (on Windows it goes to the debugger channel).
    EXPECT_NE(unwritten.err.find("cannot be written"), std::string::npos) << unwritten.err;
#endif
    const CardRun listed = runCardTool(dir, {"list", "--log", dir.file("missing/list.log")});
    EXPECT_EQ(listed.status, 0) << listed.err;
}

// --log never writes through a link, into a pipe or a device, nor over a file
// the run itself needs: each is refused before anything is touched (exit 2),
// and nothing it names changes, its owner neither where root acts for a user.
TEST(CardLog, ALogIsNeverWrittenOverWhatTheRunDoesNotOwn) {
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string image = dir.file("c.img"), firmware = dir.file("fw.bin"),
                      victim = dir.file("victim");
    const std::string content(4096, 'c');
    for (const std::string& file : {image, firmware, victim}) std::ofstream(file) << content;
    fs::create_directories(dir.file("files/boot/grub"));
    std::ofstream(dir.file("files/boot/grub/stage2")) << content;
    fs::create_directories(dir.file("folder"));
    const std::vector<std::string> inspect = {"inspect", image, "--files", dir.file("files"),
                                              "--firmware", firmware};
    struct Row {
        const char* what;
        std::string log;
        std::function<void()> setUp;
        const char* reason;
    };
    std::vector<Row> rows = {
        {"the image", image, [] {}, "is the image this run works on"},
        {"the image's lock", image + ".lock", [] {}, "is the lock of the image"},
        {"a partial file of the image", dir.file(".c.img.Ab12Cd.partial"), [] {}, "partial file"},
        {"the firmware", firmware, [] {}, "is the firmware this run copies"},
        {"a file inside --files", dir.file("files/run.log"), [] {}, "inside the boot folder"},
        {"a folder", dir.file("folder"), [] {}, "is a folder"},
    };
#ifndef _WIN32
    const std::string link = dir.file("link.log");
    rows.push_back({"a link to a file", link, [&] { fs::create_symlink(victim, link); }, "is a symbolic link"});
    rows.push_back({"a hard link to the image", dir.file("hard.img"),
                    [&] { fs::create_hard_link(image, dir.file("hard.img")); }, "is the image"});
    rows.push_back({"a dangling link", dir.file("dangling.log"),
                    [&] { fs::create_symlink(dir.file("nowhere"), dir.file("dangling.log")); },
                    "is a symbolic link"});
    rows.push_back({"a link to a folder", dir.file("folder.log"),
                    [&] { fs::create_directory_symlink(dir.file("folder"), dir.file("folder.log")); },
                    "is a symbolic link"});
    rows.push_back({"a named pipe", dir.file("fifo"),
                    [&] { ASSERT_EQ(std::system(("mkfifo " + shellQuoted(dir.file("fifo"))).c_str()), 0); },
                    "is a named pipe"});
    rows.push_back({"a device", "/dev/full", [] {}, "is a device"});
#endif
    // Root acting for a user hands nothing over through a refused log.
    const QStringList asUser = {"SUDO_UID=65534"};
    for (const Row& row : rows) {
        row.setUp();
        const CardRun run = runCardTool(dir, [&] {
            std::vector<std::string> arguments = inspect;
            arguments.insert(arguments.end(), {"--log", row.log});
            return arguments;
        }(), asUser);
        EXPECT_EQ(run.status, 2) << row.what << ": " << run.err;
        EXPECT_NE(run.err.find(row.reason), std::string::npos) << row.what << ": " << run.err;
        EXPECT_EQ(run.out, "") << row.what;
        for (const std::string& file : {image, firmware, victim, dir.file("files/boot/grub/stage2")})
            EXPECT_EQ(readWholeFile(file), content) << row.what << ": " << file;
        EXPECT_FALSE(fs::exists(image + ".lock")) << row.what;
        EXPECT_FALSE(fs::exists(dir.file("nowhere"))) << row.what;
        EXPECT_FALSE(fs::exists(dir.file("files/run.log"))) << row.what;
    }
#ifndef _WIN32
    struct ::stat owner {};
    ASSERT_EQ(::stat(victim.c_str(), &owner), 0);
    EXPECT_EQ(owner.st_uid, ::geteuid());
#endif
    // A regular file of the user's own is emptied and takes the log.
    std::ofstream(dir.file("old.log")) << content;
    std::vector<std::string> arguments = inspect;
    arguments.insert(arguments.end(), {"--log", dir.file("old.log")});
    EXPECT_EQ(runCardTool(dir, arguments).status, 1);
    const std::string log = readWholeFile(dir.file("old.log"));
    EXPECT_EQ(log.rfind("t6-card ", 0), 0u) << log;
    EXPECT_EQ(log.find(content), std::string::npos);
}

// A 32 GB card image on a 10 MiB file system: the FATs of the data volume do
// not fit, and the build must fail instead of finishing on a cut-short image.
// The file system is a tmpfs in a mount namespace of its own.
TEST(CardUsage, ImageOnAFullFileSystemFails) {
    TempDir dir;
    const std::string full = dir.file("full");
    const std::string mount = "mkdir -p " + shellQuoted(full) + " && mount -t tmpfs -o size=10m none " +
                              shellQuoted(full);
    if (runCommand("unshare -rm sh -c " + shellQuoted(mount)) != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    const std::string build = mount + " && " + shellQuoted(ZEL_T6_CARD) + " image " +
                              shellQuoted(full + "/card.img") + " --size 32000000000";
    std::string output;
    EXPECT_EQ(runCommand("unshare -rm sh -c " + shellQuoted(build), &output), 1)
        << output;
    EXPECT_NE(output.find("Unable to write sector"), std::string::npos) << output;
    EXPECT_NE(output.find("The file system holding " + full + "/card.img is full.\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Finished - an error occurred"), std::string::npos) << output;
    EXPECT_EQ(output.find("Finished successfully"), std::string::npos) << output;
}

// Names in `folder`, sorted, one per line.
std::string listing(const std::string& folder) {
    std::string names;
    runCommand("ls -A " + shellQuoted(folder), &names);
    return names;
}

TEST(CardOutput, OnlyAnImageFileIsEverReplacedAndOnlyByASuccessfulBuild) {
    TempDir dir;
    if (runCommand("cd " + shellQuoted(dir.path()) + " && mkdir folder && mkfifo fifo && ln -s kept link") != 0)
        GTEST_SKIP() << "no shell here that makes a fifo and a symbolic link";
    ASSERT_TRUE(writeWholeFile(dir.file("kept"), "kept"));
    const bool haveDevice = runCommand("mknod " + shellQuoted(dir.file("device")) + " c 1 3") == 0;
    const std::string before = listing(dir.path());
    const std::string tooSmall = "1000";
    struct Case {
        std::string out;
        bool force;
        std::string sectors;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"kept", false, std::to_string(TEST_CARD_SECTORS), 1, "kept exists; it is left alone"},
        {"kept", true, tooSmall, 1, "could not be built; nothing of it was left behind."},
        {"folder", true, std::to_string(TEST_CARD_SECTORS), 1, "is not an image file"},
        {"fifo", true, std::to_string(TEST_CARD_SECTORS), 1, "is not an image file"},
        {"link", true, std::to_string(TEST_CARD_SECTORS), 1, "is not an image file"},
        {"device", true, std::to_string(TEST_CARD_SECTORS), 1, "is not an image file"},
    };
    for (const Case& c : cases) {
        if (c.out == "device" && !haveDevice) continue;
        std::vector<std::string> arguments = {"image", dir.file(c.out), "--sectors", c.sectors,
                                              "--geometry", "16/63"};
        if (c.force) arguments.push_back("--force");
        const CardRun run = runCardTool(dir, arguments);
        EXPECT_EQ(run.status, c.status) << c.out << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.out << "\n" << run.err;
        EXPECT_EQ(run.out.find("Finished successfully"), std::string::npos) << run.out;
        EXPECT_EQ(readWholeFile(dir.file("kept")), "kept") << c.out;
        EXPECT_EQ(listing(dir.path()), before) << c.out;
    }

    // --force replaces an image file, and only once the new card is complete.
    const CardRun run = runCardTool(dir, {"image", dir.file("kept"), "--sectors",
                                          std::to_string(TEST_CARD_SECTORS), "--geometry", "16/63",
                                          "--force"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readRange(dir.file("kept"), 510, 2), "\x55\xAA");
    EXPECT_EQ(listing(dir.path()), before);
}

TEST(CardOutput, ASecondRunIsRefusedAndAnInterruptedRunLeavesNothingBehind) {
    if (!haveProgram("ps")) GTEST_SKIP() << "needs ps";
    TempDir dir;
    // An mcopy that stays until it is stopped, so the run can be caught in its copy step.
    ASSERT_EQ(runCommand("cd " + shellQuoted(dir.path()) +
                         " && mkdir bin tmp boot boot/grub && printf 'x' > boot/grub/stage2"
                         " && printf 'm' > boot/grub/menu.lst && printf 'f' > fw"
                         " && printf '#!/bin/sh\\necho $$ > mcopy.pid\\nexec sleep 30\\n' > bin/mcopy"
                         " && chmod +x bin/mcopy"), 0);
    std::string card;
    for (const std::string& argument : testCardImageArguments("out.img"))
        card += " " + shellQuoted(argument);
    const std::string tool = shellQuoted(ZEL_T6_CARD);
    const std::string script =
        "cd " + shellQuoted(dir.path()) + " || exit 9\n" +
        "PATH=\"$PWD/bin:$PATH\" TMPDIR=\"$PWD/tmp\" " + tool + card +
        " --files boot --firmware fw >/dev/null 2>first.err &\n"
        "first=$!\n"
        "for i in $(seq 400); do [ -s mcopy.pid ] && break; sleep 0.05; done\n" +
        tool + card + " --force >/dev/null 2>second.err; echo $? > second.status\n" +
        // install takes the same lock: one run writes an image at a time.
        tool + " install out.img --geometry 16/63 --files boot --firmware fw >/dev/null "
        "2>third.err; echo $? > third.status\n"
        "kill -TERM $first; wait $first; echo $? > first.status\n"
        "state=$(ps -o stat= -p \"$(cat mcopy.pid)\"); case \"$state\" in ''|Z*) ;; *) echo running > mcopy.state;; esac\n"
        "rm -f mcopy.pid\n"
        // An install on an image caught in its copy: the image is the user's and stays.
        "truncate -s 512483328 in.img\n"
        "PATH=\"$PWD/bin:$PATH\" TMPDIR=\"$PWD/tmp\" " + tool +
        " install in.img --geometry 16/63 --files boot --firmware fw >/dev/null 2>fourth.err &\n"
        "fourth=$!\n"
        "for i in $(seq 400); do [ -s mcopy.pid ] && break; sleep 0.05; done\n"
        "kill -TERM $fourth; wait $fourth; echo $? > fourth.status\n"
        "rm -f mcopy.pid\n";
    ASSERT_EQ(runCommand(script), 0);
    for (const char* run : {"second", "third"}) {
        EXPECT_EQ(readWholeFile(dir.file(run + std::string(".status"))), "1\n") << run;
        const std::string said = readWholeFile(dir.file(run + std::string(".err")));
        EXPECT_EQ(said, "Another run is writing out.img (out.img.lock is held); it is left alone.\n")
            << run;
    }
    EXPECT_EQ(readWholeFile(dir.file("first.status")), "143\n");
    EXPECT_NE(readWholeFile(dir.file("first.err")).find("has been removed"), std::string::npos);
    EXPECT_EQ(readWholeFile(dir.file("mcopy.state")), "");
    EXPECT_EQ(readWholeFile(dir.file("fourth.status")), "143\n");
    const std::string fourth = readWholeFile(dir.file("fourth.err"));
    EXPECT_TRUE(std::regex_search(fourth, std::regex("\nInterrupted at \"Copying files...\" "
                                                     "\\([0-9]+%\\); the image in.img is "
                                                     "incomplete and must be rebuilt.\n$")))
        << fourth;
    EXPECT_EQ(fourth.find("boot folder"), std::string::npos) << fourth;
    // No image, no temporary, no lock, no staging folder; the installed image stays.
    EXPECT_EQ(listing(dir.path()),
              "bin\nboot\nfirst.err\nfirst.status\nfourth.err\nfourth.status\nfw\nin.img\n"
              "second.err\nsecond.status\nthird.err\nthird.status\ntmp\n");
    EXPECT_EQ(listing(dir.file("tmp")), "");
}

class CardImage : public ::testing::Test {
protected:
    void SetUp() override {
        // t6-card writes the boot files into an image with mtools' mcopy.
        if (!haveMtools()) GTEST_SKIP() << "mtools is not installed: no image with boot files";
        // mtools stamps the copied files with this time rather than the clock's,
        // so that two builds can be compared byte for byte.
        qputenv("SOURCE_DATE_EPOCH", "1700000000");
        std::filesystem::create_directories(dir.file("files/boot/grub"));
        ASSERT_TRUE(writeWholeFile(dir.file("files/boot/grub/stage2"), std::string(3000, 's')));
        ASSERT_TRUE(writeWholeFile(dir.file("files/boot/grub/menu.lst"), "kernel /boot/bzImage\n"));
        ASSERT_TRUE(writeWholeFile(dir.file("files/boot/.keep"), "left behind"));
        firmware = dir.file("t6-board.fw");
        std::string bytes;
        for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7 + i / 256);
        ASSERT_TRUE(writeWholeFile(firmware, bytes));

        image = dir.file("card.img");
        std::vector<std::string> arguments = testCardImageArguments(image);
        arguments.insert(arguments.end(),
                         {"--files", dir.file("files/boot"), "--firmware", firmware});
        const CardRun run = runCardTool(dir, arguments);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        built = run.out;
    }

    CardRun inspect() { return runCardTool(dir, {"inspect", image}); }

    // The image is broken in one way: inspect names exactly that finding.
    void expectOnlyFinding(const std::string& finding) {
        const CardRun run = inspect();
        EXPECT_EQ(run.status, 1) << run.out;
        const std::string findings = run.out.substr(run.out.find("Findings:\n"));
        EXPECT_EQ(findings, "Findings:\n  " + finding + "\n") << run.out;
        EXPECT_EQ(run.out.find("card OK"), std::string::npos);
    }

    TempDir dir;
    std::string image, firmware, built;
};

TEST_F(CardImage, BuildsTheCardAsTheWizardDoesAndInspectPassesIt) {
    EXPECT_EQ(built, REBUILD_STAGE_LINES);
    // Sparse: the image holds little more than the written metadata.
    std::string used;
    ASSERT_EQ(runCommand("du -k " + shellQuoted(image) + " | cut -f1", &used), 0);
    EXPECT_LT(std::stoul(used), 4096u);

    const CardRun run = inspect();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(lastLine(run.out), "card OK");
    for (const char* line : {
             "Disk: 1000944 sectors of 512 bytes (512483328 bytes)\n",
             "Partition 0: type 0x06, first sector 256, 511808 sectors\n",
             "Partition 1: type 0x06, first sector 512064, 488880 sectors\n",
             "Partition 2: empty\nPartition 3: empty\n",
             "Volume 0: FAT16, 4096-byte clusters, FAT of 250 sectors (2 copies), label \"t6sc_boot\"\n",
             "label \"t6sc_data\"\n",
             "Boot code (LBA 0): GRUB stage 1\n",
             "boot/grub/stage2: 3000 bytes\n",
             "boot/grub/menu.lst: 21 bytes\n",
             "boot/bzImage: 70000 bytes\n",
         })
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\nin\n" << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;

    // The files arrived byte for byte; dot entries stay behind as in the deployment.
    std::string listing;
    ASSERT_EQ(runCommand(mtools("mtype", image, "::/boot/bzImage") + " > " +
                         shellQuoted(dir.file("copied.fw"))), 0);
    EXPECT_EQ(readWholeFile(dir.file("copied.fw")), readWholeFile(firmware));
    ASSERT_EQ(runCommand(mtools("mdir", image, "-b -/ ::/"), &listing), 0);
    EXPECT_EQ(listing.find(".keep"), std::string::npos) << listing;
    EXPECT_NE(listing.find("menu.lst"), std::string::npos) << listing;
}

TEST_F(CardImage, InstallOnAnImageGivesTheImageCommandsBytes) {
    const std::string installed = dir.file("installed.img");
    ASSERT_TRUE(makeSparseFile(installed, uint64_t(TEST_CARD_SECTORS) * 512));
    const CardRun run = runCardTool(dir, {"install", installed, "--geometry", "16/63", "--files",
                                          dir.file("files/boot"), "--firmware", firmware});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, built);

    // cmp -l: the 1-based offset of each differing byte. Only the disk
    // signature (bytes 440 to 443) may differ.
    std::string differences;
    runCommand("cmp -l " + shellQuoted(image) + " " + shellQuoted(installed) + " | awk '{print $1}'",
               &differences);
    std::istringstream lines(differences);
    for (std::string offset; std::getline(lines, offset);)
        EXPECT_TRUE(std::stoul(offset) >= 441 && std::stoul(offset) <= 444) << "byte " << offset;
    EXPECT_EQ(inspect().status, 0);
}

// A link in the payload fails the build with a line naming it, and neither
// the staging folder nor the image stays behind.
TEST_F(CardImage, PayloadWithALinkIsRefused) {
    const std::string link = dir.file("files/boot/grub/loop");
    ASSERT_EQ(runCommand("ln -s .. " + shellQuoted(link) + " && mkdir " + shellQuoted(dir.file("tmp"))),
              0);
    std::string command = "TMPDIR=" + shellQuoted(dir.file("tmp")) + " " + shellQuoted(ZEL_T6_CARD);
    std::vector<std::string> arguments = testCardImageArguments(dir.file("linked.img"));
    arguments.insert(arguments.end(), {"--files", dir.file("files/boot"), "--firmware", firmware});
    for (const std::string& argument : arguments) command += " " + shellQuoted(argument);
    std::string output;
    EXPECT_EQ(runCommand(command, &output), 1) << output;
    EXPECT_NE(output.find("Copy failed: " + link + " is a symbolic link\n"), std::string::npos)
        << output;
    std::string left;
    EXPECT_EQ(runCommand("ls -A " + shellQuoted(dir.file("tmp")), &left), 0);
    EXPECT_EQ(left, "");
    EXPECT_FALSE(std::ifstream(dir.file("linked.img")).good());
}

// Runs found faulty by probing the command line as a careless technician
// would: each is refused before anything is written, or reported in plain
// words, and leaves nothing of its own behind. Every row runs in a folder of
// its own beside the fixture's payload (../files/boot, ../t6-board.fw), with
// the tool as $T6 and the test card's size and geometry as $CARD.
TEST_F(CardImage, FaultyRunsAreRefusedOrReportedAndLeaveNothingBehind) {
    struct Row {
        const char* what;
        std::string shell;
        int status;
        std::string said;  // a piece of the run's output; empty for none
        // What the row's folder must hold afterwards, sorted; and more checks.
        std::string left;
        std::function<void(const std::string& folder, const std::string& output)> check;
    };
    const std::string payload = "--files ../files/boot --firmware ../t6-board.fw";
    const auto zeros = [](std::size_t bytes) {
        return [bytes](const std::string& folder, const std::string&) {
            EXPECT_EQ(readWholeFile(folder + "/s.img"), std::string(bytes, '\0'));
        };
    };
    const auto noFirmwareLine = [](const std::string&, const std::string& output) {
        EXPECT_EQ(output.find("the firmware"), std::string::npos);
    };
    const std::string clash = "cp -r ../files/boot p && echo x > p/grub/Menu.lst && ";
    const std::vector<Row> rows = {
        {"label of 12 characters",
         "$T6 format ../card.img --partition 0 --label ABCDEFGHIJKL --geometry 16/63", 2,
         "--label takes at most 11 printable ASCII characters", "", nullptr},
        {"label outside ASCII",
         "$T6 format ../card.img --partition 0 --label 'caf\xC3\xA9' --geometry 16/63", 2,
         "--label takes at most 11 printable ASCII characters", "", nullptr},
        {"label of spaces only",
         "$T6 format ../card.img --partition 0 --label '   ' --geometry 16/63", 2,
         "--label takes a label that is not empty and does not begin with a space.", "", nullptr},
        {"image named by an empty string", "$T6 image '' $CARD", 2,
         "image takes an image file or drive, not an empty name.", "", nullptr},
        {"format on a file shorter than a sector",
         "head -c 511 /dev/zero > s.img && $T6 format s.img --partition 0 --label x", 1,
         "s.img has 0 sectors; a partition table needs at least 1. Nothing was written.\n",
         "s.img\n",
         [](const std::string& folder, const std::string& output) {
             EXPECT_EQ(readWholeFile(folder + "/s.img"), std::string(511, '\0'));
             EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
         }},
        {"empty firmware", ": > fw && $T6 image out.img $CARD --files ../files/boot --firmware fw", 1,
         "/fw is empty; the card would not boot.", "fw\n", nullptr},
        {"empty boot folder", "mkdir p && $T6 image out.img $CARD --files p --firmware ../t6-board.fw",
         1, "/p holds no grub/stage2 with content; the card would not boot.", "p\n", nullptr},
        {"boot loader on one sector", "head -c 512 /dev/zero > s.img && $T6 bootloader s.img", 1,
         "The card has 1 sectors; the boot loader needs 18. Nothing was written.", "s.img\n",
         zeros(512)},
        {"boot loader on nine sectors", "head -c 4608 /dev/zero > s.img && $T6 bootloader s.img", 1,
         "Nothing was written.", "s.img\n", zeros(4608)},
        {"image inside its own payload",
         "cp -r ../files/boot p && $T6 image p/out.img $CARD --files p --firmware ../t6-board.fw",
         0, "", "p\n",
         [](const std::string& folder, const std::string&) {
             std::string listing;
             runCommand("MTOOLS_SKIP_CHECK=1 mdir -b -/ -i " + shellQuoted(folder + "/p/out.img") +
                            "@@" + std::to_string(TEST_BOOT_START * 512) + " ::/boot",
                        &listing);
             EXPECT_NE(listing.find("stage2"), std::string::npos) << listing;
             EXPECT_EQ(listing.find("out.img"), std::string::npos) << listing;
             // inspect leaves the image out of the payload as image does.
             std::string inspected;
             EXPECT_EQ(runCommand("cd " + shellQuoted(folder) + " && " +
                                      shellQuoted(ZEL_T6_CARD) +
                                      " inspect p/out.img --files p --firmware ../t6-board.fw",
                                  &inspected),
                       0)
                 << inspected;
         }},
        // The image inside the payload is not counted in its room either.
        {"install on an image inside its own payload",
         "cp -r ../files/boot p && truncate -s 512483328 p/in.img && "
         "$T6 install p/in.img --geometry 16/63 --files p --firmware ../t6-board.fw",
         0, "Finished successfully", "p\n", nullptr},
        {"name beyond U+FFFF",
         "cp -r ../files/boot p && echo x > 'p/\xF0\x9F\x98\x80.txt' && "
         "$T6 image out.img $CARD --files p --firmware ../t6-board.fw",
         1, "cannot go onto the card: \xF0\x9F\x98\x80.txt holds a character beyond U+FFFF",
         "p\n", noFirmwareLine},
        {"name ending with a dot",
         "cp -r ../files/boot p && echo x > p/grub/a. && "
         "$T6 image out.img $CARD --files p --firmware ../t6-board.fw",
         1, "cannot go onto the card: grub/a. ends with a dot or a space", "p\n", noFirmwareLine},
        // mcopy numbers the short names of names that begin alike, in a time
        // that grows far faster than their count: refused up front.
        {"701 long names that begin alike in one folder",
         "cp -r ../files/boot p && (cd p/grub && for i in $(seq 701); do : > long_name_$i.txt; "
         "done) && $T6 image out.img $CARD --files p --firmware ../t6-board.fw",
         1, "cannot go into an image: more than 700 names in grub need a long name and begin alike",
         "p\n", noFirmwareLine},
        // mcopy stores it as y.txt: the build reads its files back and fails.
        {"name mcopy changes",
         "cp -r ../files/boot p && echo x > 'p/\xC3\xBF.txt' && "
         "$T6 image out.img $CARD --files p --firmware ../t6-board.fw",
         1, "boot/\xC3\xBF.txt could not be stored under its own name (the card holds y.txt).\n",
         "p\n", nullptr},
        {"names that differ only in case",
         clash + "$T6 image out.img $CARD --files p --firmware ../t6-board.fw", 1,
         "grub/Menu.lst differ only in case, which FAT does not tell apart.", "p\n",
         noFirmwareLine},
        {"control character in a name",
         "cp -r ../files/boot p && echo x > \"p/a$(printf '\\001')b\" && "
         "$T6 image out.img $CARD --files p --firmware ../t6-board.fw",
         1, "cannot go onto the card: a\\x01b holds a character that FAT does not allow", "p\n",
         noFirmwareLine},
        {"character FAT forbids",
         "cp -r ../files/boot p && echo x > 'p/grub/a*b' && "
         "$T6 image out.img $CARD --files p --firmware ../t6-board.fw",
         1, "grub/a*b holds a character that FAT does not allow", "p\n", noFirmwareLine},
        {"mcopy failing without a word",
         "mkdir bin && printf '#!/bin/sh\\nexit 3\\n' > bin/mcopy && chmod +x bin/mcopy && "
         "PATH=\"$PWD/bin:$PATH\" $T6 image out.img $CARD " + payload,
         1, "mcopy could not write the boot folder into out.img: it ended with status 3 and gave "
            "no reason.", "bin\n", noFirmwareLine},
        // With the signals' default actions, whatever the test runner ignores.
        {"output pipe closed",
         "{ sleep 1; env --default-signal=PIPE $T6 image out.img $CARD; echo $? > status; } | "
         "true; exit $(cat status)",
         141, "", "status\n", nullptr},
        {"file size limit", "ulimit -f 1000 && env --default-signal=XFSZ $T6 image out.img $CARD",
         153, "", "", nullptr},
        {"install on an image past 2 TiB",
         "truncate -s 3T big.img && $T6 install big.img " + payload, 1,
         "The image file big.img holds 6442450944 sectors; t6-card writes images of up to "
         "4294967295 sectors (2 TiB).", "big.img\n",
         [](const std::string&, const std::string& output) {
             EXPECT_EQ(output.find("PhysicalDrive"), std::string::npos) << output;
         }},
    };
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = dir.file("row" + std::to_string(++number));
        std::filesystem::create_directory(folder);
        std::string output;
        const int status = runCommand(
            "cd " + shellQuoted(folder) + " && T6=" + shellQuoted(ZEL_T6_CARD) + " CARD='--sectors " +
                std::to_string(TEST_CARD_SECTORS) + " --geometry 16/63' && " + row.shell,
            &output);
        EXPECT_EQ(status, row.status) << output;
        EXPECT_NE(output.find(row.said), std::string::npos) << output;
        EXPECT_EQ(listing(folder), row.left);
        if (row.check) row.check(folder, output);
    }
    // The labels were refused before the card was touched.
    EXPECT_EQ(inspect().status, 0);
}

TEST_F(CardImage, WrongTypeByteIsFound) {
    patch(image, 446 + 4, "\x0C");
    expectOnlyFinding("Partition 0 has type 0x0C; its FAT16 volume needs 0x06.");
}

TEST_F(CardImage, DamagedStage15SectorIsFound) {
    patch(image, 7 * 512 + 100, std::string("\xFF\xFE", 2));
    expectOnlyFinding("LBA 7 does not hold sector 6 of the GRUB stage 1.5 image.");
    const CardRun run = inspect();
    EXPECT_NE(run.out.find("1 of "), std::string::npos) << run.out;
}

TEST_F(CardImage, DamagedStage1IsFound) {
    patch(image, 0x40, "\x80");  // boot drive byte
    expectOnlyFinding("LBA 0 does not hold the GRUB stage 1 image.");
}

TEST_F(CardImage, MissingFirmwareIsFound) {
    ASSERT_EQ(runCommand(mtools("mdel", image, "::/boot/bzImage")), 0);
    expectOnlyFinding("boot/bzImage is missing on the boot volume.");
}

TEST_F(CardImage, MissingMenuAndStage2AreFound) {
    ASSERT_EQ(runCommand(mtools("mdeltree", image, "::/boot/grub")), 0);
    const CardRun run = inspect();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("  boot/grub/stage2 is missing on the boot volume.\n"
                           "  boot/grub/menu.lst is missing on the boot volume.\n"),
              std::string::npos)
        << run.out;
}

TEST_F(CardImage, ThirdPartitionEntryIsFound) {
    // An entry behind the data partition, as a partitioning tool would add it.
    patch(image, 446 + 2 * 16, std::string("\x00\x00\x01\x00\x83\x0F\xFF\xE0\x00\x00\x00\x00\x10\x00\x00\x00", 16));
    expectOnlyFinding("Partition entry 2 is in use; the card has two partitions.");
    EXPECT_NE(inspect().out.find("Partition 2: type 0x83, first sector 0, 16 sectors"),
              std::string::npos);
}

TEST_F(CardImage, BootSectorSignatureIsFound) {
    patch(image, uint64_t(TEST_BOOT_START) * 512 + 510, std::string("\x55\x00", 2));
    expectOnlyFinding("The boot sector of partition 0 does not end with the signature 55 AA.");
}

TEST_F(CardImage, DataVolumeLabelAndMbrSignatureAreFound) {
    patch(image, 510, std::string("\x00\x00", 2));
    patch(image, uint64_t(512064) * 512 + 43, "T6SC_DATA  ");
    const CardRun run = inspect();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("  Sector 0 does not end with the signature 55 AA.\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  Volume 1 is labelled \"T6SC_DATA\", not \"t6sc_data\".\n"),
              std::string::npos)
        << run.out;
}

TEST_F(CardImage, StagesRunOneAtATimeGiveTheSameCard) {
    const std::string stages = dir.file("stages.img");
    ASSERT_TRUE(makeSparseFile(stages, uint64_t(TEST_CARD_SECTORS) * 512));
    const std::vector<std::vector<std::string>> commands = {
        {"partition", stages, "--geometry", "16/63"},
        {"format", stages, "--partition", "0", "--label", "t6sc_boot", "--geometry", "16/63"},
        {"format", stages, "--partition", "1", "--label", "t6sc_data", "--geometry", "16/63"},
        {"bootloader", stages, "--geometry", "16/63"},
    };
    for (const auto& command : commands) {
        const CardRun run = runCardTool(dir, command);
        ASSERT_EQ(run.status, 0) << command[0] << "\n" << run.out << run.err;
    }
    // Everything but the disk signature and the volume serial numbers equals
    // the image built in one go: the first track, and both boot sectors from
    // the label on.
    EXPECT_EQ(readRange(image, 0, 440), readRange(stages, 0, 440));
    EXPECT_EQ(readRange(image, 444, 63 * 512 - 444), readRange(stages, 444, 63 * 512 - 444));
    for (uint64_t start : {uint64_t(256), uint64_t(512064)}) {
        const std::string bootSector = readRange(image, start * 512 + 43, 469);
        ASSERT_EQ(bootSector.size(), 469u);
        EXPECT_EQ(bootSector, readRange(stages, start * 512 + 43, 469));
    }

    const CardRun run = runCardTool(dir, {"inspect", stages});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Findings:\n  boot/grub/stage2 is missing on the boot volume.\n"
                           "  boot/grub/menu.lst is missing on the boot volume.\n"
                           "  boot/bzImage is missing on the boot volume.\n"),
              std::string::npos)
        << run.out;
}

TEST_F(CardImage, BootFilesAreFoundOnAFat32BootVolumeBehindLongFolders) {
    // One sector per cluster: boot/grub spreads over several chained clusters
    // once forty other files come first.
    const CardRun formatted =
        runCardTool(dir, {"format", image, "--partition", "0", "--fat", "32", "--cluster-bytes",
                          "512", "--label", "t6sc_boot", "--geometry", "16/63"});
    ASSERT_EQ(formatted.status, 0) << formatted.err;
    std::string fillers;
    for (int i = 0; i < 40; ++i) {
        const std::string name = dir.file("filler" + std::to_string(i) + ".txt");
        ASSERT_TRUE(writeWholeFile(name, "x"));
        fillers += " " + shellQuoted(name);
    }
    const std::string grub = dir.file("files/boot/grub/");
    for (const std::string& step :
         {mtools("mmd", image, "::/boot ::/boot/grub"),
          mtools("mcopy", image, fillers + " ::/boot/grub/"),
          mtools("mcopy", image,
                 shellQuoted(grub + "stage2") + " " + shellQuoted(grub + "menu.lst") + " ::/boot/grub/"),
          mtools("mcopy", image, shellQuoted(firmware) + " ::/boot/bzImage")})
        ASSERT_EQ(runCommand(step), 0) << step;

    const CardRun run = inspect();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Partition 0: type 0x0B"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Volume 0: FAT32, 512-byte clusters"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("boot/grub/menu.lst: 21 bytes\n"), std::string::npos) << run.out;
}

// Where things lie on a FAT volume of the test card, from its boot sector.
struct VolumeLayout {
    uint64_t base = 0;  // byte offset of the volume in the image
    uint32_t reserved = 0, fatSectors = 0, rootSectors = 0, sectorsPerCluster = 0;
    bool fat32 = false;

    uint64_t fatEntry(int copy, uint32_t cluster) const {
        return base + (uint64_t(reserved) + copy * fatSectors) * 512 + cluster * (fat32 ? 4 : 2);
    }
    uint64_t cluster(uint32_t number) const {
        return base + (uint64_t(reserved) + 2 * fatSectors + rootSectors +
                       uint64_t(number - 2) * sectorsPerCluster) * 512;
    }
};

VolumeLayout volumeAt(const std::string& image, uint64_t firstSector) {
    VolumeLayout v;
    v.base = firstSector * 512;
    const std::string boot = readRange(image, v.base, 512);
    const auto le16 = [&](int at) { return uint32_t(uint8_t(boot[at])) | uint32_t(uint8_t(boot[at + 1])) << 8; };
    v.sectorsPerCluster = uint8_t(boot[13]);
    v.reserved = le16(14);
    v.fatSectors = le16(22);
    v.fat32 = v.fatSectors == 0;
    if (v.fat32) v.fatSectors = le16(36) | le16(38) << 16;
    v.rootSectors = le16(17) * 32 / 512;
    return v;
}

std::string le(uint32_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) text += static_cast<char>(value >> (8 * i));
    return text;
}

// The first cluster of a file or folder on the boot volume, as mtools sees it.
uint32_t firstCluster(const std::string& image, const std::string& path) {
    std::string shown;
    runCommand(mtools("mshowfat", image, path), &shown);
    const std::size_t open = shown.find('<');
    return open == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(shown.substr(open + 1)));
}

// The byte offset of the short entry `name11` (8.3 as stored) in a folder's first cluster.
uint64_t entryIn(const std::string& image, const VolumeLayout& v, uint32_t folder,
                 const std::string& name11) {
    const std::string bytes = readRange(image, v.cluster(folder), v.sectorsPerCluster * 512);
    for (std::size_t at = 0; at + 32 <= bytes.size(); at += 32)
        if (bytes.compare(at, 11, name11) == 0) return v.cluster(folder) + at;
    return 0;
}

struct Patch {
    uint64_t offset;
    std::string bytes;
};

// Writes the patches into the image; returns what they replaced.
std::vector<Patch> applyPatches(const std::string& image, const std::vector<Patch>& patches) {
    std::vector<Patch> originals;
    for (const Patch& p : patches) {
        originals.push_back({p.offset, readRange(image, p.offset, p.bytes.size())});
        patch(image, p.offset, p.bytes);
    }
    return originals;
}

TEST_F(CardImage, DamageThatStopsTheBootIsFoundInBoundedTime) {
    const VolumeLayout boot = volumeAt(image, TEST_BOOT_START);
    const VolumeLayout data = volumeAt(image, 512064);
    const uint32_t bootFolder = firstCluster(image, "::/boot");
    const uint32_t grub = firstCluster(image, "::/boot/grub");
    const uint32_t stage2 = firstCluster(image, "::/boot/grub/stage2");
    const uint32_t bzImage = firstCluster(image, "::/boot/bzImage");
    const uint64_t stage2Entry = entryIn(image, boot, grub, "STAGE2     ");
    const uint64_t menuEntry = entryIn(image, boot, grub, "MENU    LST");
    const uint64_t grubEntry = entryIn(image, boot, bootFolder, "GRUB       ");
    const uint64_t dataRoot = data.base + (data.reserved + 2 * data.fatSectors) * 512;
    ASSERT_TRUE(bootFolder && grub && stage2 && bzImage && stage2Entry && menuEntry && grubEntry);
    const auto bothFats = [](const VolumeLayout& v, uint32_t cluster, uint32_t value) {
        return std::vector<Patch>{{v.fatEntry(0, cluster), le(value, 2)},
                                  {v.fatEntry(1, cluster), le(value, 2)}};
    };
    struct Case {
        const char* what;
        std::vector<Patch> patches;
        std::string finding;
        std::string absent = {};  // a finding the damage must not lead to
    };
    const std::vector<Case> cases = {
        {"folder chain A->A", bothFats(boot, bootFolder, bootFolder),
         "Volume 0: the cluster chain of boot loops back to cluster " + std::to_string(bootFolder)},
        {"file chain A->...->A", bothFats(boot, bzImage + 17, bzImage),
         "Volume 0: the cluster chain of boot/bzImage loops back"},
        {"stage2 of size 0", {{stage2Entry + 28, le(0, 4)}}, "boot/grub/stage2 is empty."},
        {"stage2's cluster free", bothFats(boot, stage2, 0),
         "boot/grub/stage2 cannot be read back whole through its clusters."},
        {"size longer than the chain", {{stage2Entry + 28, le(5000, 4)}},
         "boot/grub/stage2 is 5000 bytes but its chain holds 1 clusters of 4096 bytes."},
        {"cross-linked files", {{menuEntry + 26, le(stage2, 2)}},
         "shares cluster " + std::to_string(stage2) + " with another file."},
        {"FAT copies differ", {{boot.fatEntry(1, 3000), le(0xFFFF, 2)}},
         "Volume 0: FAT copy 1 differs from the first in 1 sectors."},
        {"cluster in use by no file", bothFats(boot, 3000, 0xFFFF),
         "Volume 0: 1 clusters are marked in use but belong to no file."},
        // Only the copy a card has is compared, not 254 of them.
        {"255 FATs on the data volume", {{data.base + 16, "\xFF"}},
         "Volume 1: it has 255 FAT copies, not 2.", "FAT copy 2 "},
        {"data volume label marked a folder", {{dataRoot + 11, "\x18"}},
         "Volume 1: its label entry t6sc_data is also marked a folder."},
        {"data volume label deleted", {{dataRoot, "\xE5"}},
         "Volume 1: its root folder holds no label entry; its boot sector names it \"t6sc_data\"."},
        {"grub marked a label folder", {{grubEntry + 11, "\x18"}},
         "Volume 0: boot/grub is marked as a volume label; readers do not see it as a folder."},
        {"grub with every attribute bit but two", {{grubEntry + 11, "\xFA"}},
         "boot/grub/stage2 is missing on the boot volume."},
        // A long-name slot (order 1, last) that no short entry follows.
        {"orphaned long-name slot", {{dataRoot + 32, "\x41" "a" + std::string(9, '\0') + "\x0F"}},
         "Volume 1: the root folder holds long-name slots that belong to no entry."},
        {"data root entry with a bad chain", {{dataRoot + 32,
                                              "FILE    BIN\x20" + std::string(14, '\0') +
                                                  le(65000, 2) + le(100, 4)}},
         "Volume 1: the cluster chain of FILE.BIN points to cluster 65000, which the volume does "
         "not have."},
    };
    for (const Case& c : cases) {
        const std::vector<Patch> originals = applyPatches(image, c.patches);
        const auto start = std::chrono::steady_clock::now();
        const CardRun run = inspect();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.what;
        EXPECT_EQ(run.status, 1) << c.what << "\n" << run.out;
        EXPECT_NE(run.out.find(c.finding), std::string::npos) << c.what << "\n" << run.out;
        if (!c.absent.empty()) {
            EXPECT_EQ(run.out.find(c.absent), std::string::npos) << c.what << "\n" << run.out;
        }
        applyPatches(image, originals);
    }
    EXPECT_EQ(inspect().status, 0);
}

TEST_F(CardImage, DamageToAFat32VolumeIsFoundInBoundedTime) {
    const CardRun formatted =
        runCardTool(dir, {"format", image, "--partition", "0", "--fat", "32", "--cluster-bytes",
                          "512", "--label", "t6sc_boot", "--geometry", "16/63"});
    ASSERT_EQ(formatted.status, 0) << formatted.err;
    const VolumeLayout boot = volumeAt(image, TEST_BOOT_START);
    const uint64_t fsInfo = boot.base + 512;
    const std::string badSummary = "  Volume 0: its free-cluster summary does not carry its signatures.\n";
    std::string longChain;
    for (uint32_t cluster = 3; cluster <= 5001; ++cluster) longChain += le(cluster, 4);
    longChain += le(0x0FFFFFFF, 4);
    const struct {
        const char* what;
        std::vector<Patch> patches;
        std::vector<std::string> findings;
    } cases[] = {
        {"a looping root on a volume claiming four billion sectors",
         {{boot.base + 32, le(0xFFFFFFFF, 4)}, {boot.fatEntry(0, 2), le(2, 4)}},
         {"  Volume 0 is larger than its partition.\n",
          "  Volume 0: the cluster chain of the root folder loops back to cluster 2.\n",
          "  Volume 0: FAT copy 1 differs from the first in 1 sectors.\n",
          "  Volume 0: its boot sector differs from its copy.\n"}},
        // 5,000 clusters of 512 bytes: 80,000 entries.
        {"a root folder longer than FAT allows", {{boot.fatEntry(0, 2), longChain}, {boot.fatEntry(1, 2), longChain}},
         {"  Volume 0: the root folder is longer than the 65536 entries FAT allows; the rest of it "
          "is not read.\n"}},
        {"free-cluster summary's lead signature", {{fsInfo, "RRaB"}}, {badSummary}},
        {"free-cluster summary's structure signature", {{fsInfo + 484, "rrAA"}}, {badSummary}},
    };
    for (const auto& c : cases) {
        const std::vector<Patch> originals = applyPatches(image, c.patches);
        const auto start = std::chrono::steady_clock::now();
        const CardRun run = inspect();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.what;
        EXPECT_EQ(run.status, 1) << c.what;
        for (const std::string& finding : c.findings)
            EXPECT_NE(run.out.find(finding), std::string::npos) << c.what << finding << run.out;
        applyPatches(image, originals);
    }
}

TEST_F(CardImage, InspectComparesTheCardWithThePayload) {
    // Names outside ASCII reach the card in any locale and compare equal with
    // the payload's: Cyrillic ones as long names, café.txt and données as
    // short names of code page 850 with lower-case flags.
    for (const char* folder : {"\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0", "donn\xC3\xA9""es"}) {
        std::filesystem::create_directories(dir.file("files/boot/" + std::string(folder)));
        ASSERT_TRUE(writeWholeFile(dir.file("files/boot/" + std::string(folder) + "/x"), "x"));
    }
    ASSERT_TRUE(writeWholeFile(dir.file("files/boot/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt"), "file"));
    ASSERT_TRUE(writeWholeFile(dir.file("files/boot/caf\xC3\xA9.txt"), "coffee"));
    ASSERT_TRUE(writeWholeFile(dir.file("files/boot/S\xC3\x98N.TXT"), "son"));
    std::string deep = "files/boot";
    for (int depth = 0; depth < 40; ++depth) deep += "/d";
    std::filesystem::create_directories(dir.file(deep));
    ASSERT_TRUE(writeWholeFile(dir.file(deep + "/deepest"), "deep"));
    std::vector<std::string> arguments = testCardImageArguments(image);
    arguments.insert(arguments.end(),
                     {"--files", dir.file("files/boot"), "--firmware", firmware, "--force"});
    qputenv("LC_ALL", "C");
    const CardRun rebuilt = runCardTool(dir, arguments);
    qunsetenv("LC_ALL");
    ASSERT_EQ(rebuilt.status, 0) << rebuilt.out << rebuilt.err;

    const auto compare = [&] {
        return runCardTool(dir, {"inspect", image, "--files", dir.file("files/boot"), "--firmware",
                                 firmware});
    };
    CardRun run = compare();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(lastLine(run.out), "card OK");

    ASSERT_TRUE(writeWholeFile(dir.file("files/boot/grub/stage2"), std::string(3000, 'S')));
    ASSERT_TRUE(writeWholeFile(dir.file("files/boot/grub/new.lst"), "new"));
    ASSERT_TRUE(writeWholeFile(dir.file(deep + "/deepest"), "DEEP"));
    ASSERT_TRUE(writeWholeFile(dir.file("extra"), "extra"));
    ASSERT_EQ(runCommand(mtools("mcopy", image, shellQuoted(dir.file("extra")) + " ::/boot/extra")), 0);
    std::string changed = readWholeFile(firmware);
    changed[69999] ^= 1;
    ASSERT_TRUE(writeWholeFile(firmware, changed));
    run = compare();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Findings:\n"
                           "  boot/bzImage differs from the payload.\n"
                           "  " + deep.substr(6) + "/deepest differs from the payload.\n"
                           "  boot/grub/new.lst is in the payload but not on the card.\n"
                           "  boot/grub/stage2 differs from the payload.\n"
                           "  boot/extra is on the card but not in the payload.\n"),
              std::string::npos)
        << run.out;

    // An empty firmware on the card is a finding of its own, payload or not.
    ASSERT_TRUE(writeWholeFile(firmware, ""));
    ASSERT_EQ(runCommand(mtools("mcopy", image, "-o " + shellQuoted(firmware) + " ::/boot/bzImage")), 0);
    EXPECT_NE(inspect().out.find("  boot/bzImage is empty.\n"), std::string::npos);
}

TEST_F(CardImage, FormatRefusesEntriesOverTheBootLoaderPastTheEndOrOverAnotherPartition) {
    const std::string firstTrack = readRange(image, 0, 63 * 512);
    struct Case {
        uint32_t first, count;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {0, 16, "Partition entry 2 starts at sector 0, over the partition table and boot loader "
                "(sectors 0 to 17)."},
        {17, 100, "starts at sector 17, over the partition table"},
        {TEST_CARD_SECTORS - 10, 11, "past the end of the disk (1000944 sectors)."},
        {4000000000u, 1000, "past the end of the disk"},
        {300, 16, "Partition entry 2 overlaps partition entry 0."},
        {TEST_CARD_SECTORS - 100, 100, "Partition entry 2 overlaps partition entry 1."},
        {0, 0, "Partition entry 2 is empty."},
    };
    for (const Case& c : cases) {
        std::string entry(16, '\0');
        entry[4] = '\x06';
        for (int i = 0; i < 4; ++i) {
            entry[8 + i] = static_cast<char>(c.first >> (8 * i));
            entry[12 + i] = static_cast<char>(c.count >> (8 * i));
        }
        patch(image, 446 + 2 * 16, entry);
        const auto written = std::filesystem::last_write_time(image);
        const CardRun run = runCardTool(dir, {"format", image, "--partition", "2", "--label", "x",
                                              "--geometry", "16/63"});
        EXPECT_EQ(run.status, 1) << c.reason;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Nothing was written."), std::string::npos) << run.err;
        EXPECT_EQ(std::filesystem::last_write_time(image), written) << c.reason;
    }
    patch(image, 446 + 2 * 16, std::string(16, '\0'));
    EXPECT_EQ(readRange(image, 0, 63 * 512), firstTrack);
}

TEST_F(CardImage, FormatRefusalsKeepTheWizardsDebugLine) {
    // Too few clusters for FAT16, which readers would take for FAT12: the
    // formatter refuses and writes nothing.
    const CardRun run = runCardTool(
        dir, {"format", image, "--partition", "1", "--fat", "16", "--cluster-bytes", "65536",
              "--label", "x", "--geometry", "16/63"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cluster count 3818 does not make a FAT16 volume, sectors: 488880, "
                           "sectorsPerCluster 128\nFailed formatting disk 1\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(inspect().status, 0);
}

// A simulated machine of card readers 1 to `readers.size()`, each drive
// entry's own keys given as JSON members: every card rebuilt in it gets
// volume folders of its own, as cards rebuilt side by side need.
std::string readerMachine(const TempDir& dir, const std::vector<std::string>& readers) {
    std::string json = "{\"drives\": [";
    for (std::size_t i = 1; i <= readers.size(); ++i) {
        const std::string n = std::to_string(i);
        for (const char* card : {"c", "n"})
            makeSparseFile(dir.file(card + n + ".img"), uint64_t(TEST_CARD_SECTORS) * 512);
        json += std::string(i > 1 ? ", " : "") + "{\"number\": " + n + ", \"image\": \"c" + n +
                ".img\", \"vendor\": \"Kestrel \", \"product\": \"CF Reader\", \"heads\": 16, "
                "\"sectorsPerTrack\": 63, \"afterRepartition\": {\"letters\": [\"E\", \"F\"], "
                "\"folders\": [\"boot" + n + "\", \"data" + n + "\"]}" +
                (readers[i - 1].empty() ? "" : ", " + readers[i - 1]) + "}";
    }
    const std::string machine = dir.file("machine.json");
    writeWholeFile(machine, json + "]}");
    return machine;
}

// Several cards at once: each its own result, the others unharmed by one
// that fails; the exit status says whether every card was rebuilt.
TEST_F(CardImage, SeveralCardsAreRebuiltAtOnceEachWithItsOwnResult) {
    struct Row {
        std::vector<std::string> drives;  // drive 1 to 3's own keys
        int status;
        std::vector<std::string> results;  // each drive's cause, or "" when rebuilt
    };
    const Row rows[] = {
        {{"", "", ""}, 0, {"", "", ""}},
        {{"", "\"writeProtected\": true", ""}, 1, {"", "The card in drive 2 is write-protected", ""}},
        {{"", "", R"("writeDelayMs": 25, "mediaChanges": [{"atMs": 500, "media": false}])"}, 1,
         {"", "", "The card in drive 3 was removed (or its reader disconnected) during the run"}},
    };
    for (const Row& row : rows) {
        TempDir machineDir;
        const std::string machine = readerMachine(machineDir, row.drives);
        const CardRun run = runCardOnMachine(
            machine, {"install", "1", "2", "\\\\.\\PhysicalDrive3", "--files", dir.file("files/boot"),
                      "--firmware", firmware, "--yes-destroy-drive", "3", "2", "1",
                      "--log", machineDir.file("line.log")});
        EXPECT_EQ(run.status, row.status) << run.out << run.err;
        const std::size_t tableAt = run.out.find("\ndrive  ");
        ASSERT_NE(tableAt, std::string::npos) << run.out << run.err;
        const std::string table = run.out.substr(tableAt);
        const std::string log = readWholeFile(machineDir.file("line.log"));
        for (int drive = 1; drive <= 3; ++drive) {
            const std::string n = std::to_string(drive), cause = row.results[drive - 1];
            const std::string name = drive == 3 ? "\\\\.\\PhysicalDrive3" : n;
            // Its stage lines, prefixed (a refused card has none), and its row of the table.
            const bool stagesShown = run.out.find(name + ": [100%] Finished successfully\n") != std::string::npos;
            EXPECT_EQ(stagesShown, cause.empty()) << run.out;
            const std::size_t at = table.find("\n" + name + "  ");
            ASSERT_NE(at, std::string::npos) << table;
            const std::string rowText = table.substr(at + 1, table.find('\n', at + 1) - at - 1);
            EXPECT_NE(rowText.find("\\\\.\\PhysicalDrive" + n), std::string::npos) << rowText;
            EXPECT_NE(rowText.find("  512 MB  "), std::string::npos) << rowText;
            EXPECT_NE(rowText.find(cause.empty() ? "  rebuilt and checked  " : "  failed  "),
                      std::string::npos) << rowText;
            EXPECT_NE(rowText.find(cause), std::string::npos) << rowText;
            // Each card has its own log, which the run's log names.
            const std::string cardLog = machineDir.file("line/card-" + n + "-drive-" + n + ".log");
            EXPECT_NE(log.find("The log of " + name + ": " + cardLog), std::string::npos) << log;
            EXPECT_NE(readWholeFile(cardLog).find("drive: drive " + name), std::string::npos);
            if (!cause.empty()) continue;
            const CardRun check = runCardTool(dir, {"inspect", machineDir.file("c" + n + ".img"),
                                                    "--files", dir.file("files/boot"), "--firmware",
                                                    firmware});
            EXPECT_EQ(check.status, 0) << n << check.out;
        }
    }
}

#ifndef _WIN32
// The station on a scripted day: a card in at the start, a write-protected
// card that fails once and is left alone while it stays, cards taken out and
// new ones put in; Ctrl-C ends it with the counts.
TEST_F(CardImage, AStationRebuildsEveryCardPutInAndLeavesAFailedOneAlone) {
    TempDir machineDir;
    const std::string machine = readerMachine(
        machineDir,
        {R"("mediaChanges": [{"atMs": 3500, "media": false},
                             {"atMs": 4000, "media": true, "image": "n1.img"}])",
         R"("media": false, "mediaChanges": [
             {"atMs": 1000, "media": true, "writeProtected": true},
             {"atMs": 5000, "media": false},
             {"atMs": 5500, "media": true, "image": "n2.img", "writeProtected": false}])"});
    QProcess station;
    station.start(ZEL_T6_CARD_SIM,
                  {"--machine", QString::fromStdString(machine), "station", "--reader", "1", "2",
                   "--files", QString::fromStdString(dir.file("files/boot")), "--firmware",
                   QString::fromStdString(firmware), "--yes-destroy-cards-in", "2", "1", "--log",
                   QString::fromStdString(machineDir.file("station.log"))});
    ASSERT_TRUE(station.waitForStarted());
    // Every change has come and its card is done by then.
    ASSERT_FALSE(station.waitForFinished(9000)) << station.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(station.processId()), SIGINT);
    ASSERT_TRUE(station.waitForFinished(30000));
    EXPECT_EQ(station.exitCode(), 130);
    const std::string out = station.readAllStandardOutput().toStdString();
    const std::regex expected(
        "Watching 2 readers for cards; every card put in is rebuilt. Ctrl-C stops.\n"
        "[0-9:]{8}  reader 1  512 MB  rebuilt and checked  [0-9.]+ s  \\(rebuilt 1, failed 0\\)\n"
        "[0-9:]{8}  reader 2  512 MB  The card in drive 2 is write-protected[^\n]*  [0-9.]+ s  "
        "\\(rebuilt 1, failed 1\\)\n"
        "[0-9:]{8}  reader 1  512 MB  rebuilt and checked  [0-9.]+ s  \\(rebuilt 2, failed 1\\)\n"
        "[0-9:]{8}  reader 2  512 MB  rebuilt and checked  [0-9.]+ s  \\(rebuilt 3, failed 1\\)\n"
        "Stopped: rebuilt 3, failed 1.\n");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;
    for (const char* card : {"c1.img", "n1.img", "n2.img"}) {
        const CardRun check = runCardTool(dir, {"inspect", machineDir.file(card), "--files",
                                                dir.file("files/boot"), "--firmware", firmware});
        EXPECT_EQ(check.status, 0) << card << check.out;
    }
    EXPECT_EQ(readRange(machineDir.file("c2.img"), 0, 64 * 512), std::string(64 * 512, '\0'));
    // The station's log names every card's log.
    const std::string log = readWholeFile(machineDir.file("station.log"));
    for (int card = 1; card <= 4; ++card)
        EXPECT_NE(log.find("its log: " + machineDir.file("station/card-" + std::to_string(card))),
                  std::string::npos) << log;
}
#endif

}  // namespace
