#include "deploy/copy_directory.h"

#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QString>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

QString q(const std::string& path) { return QString::fromStdString(path); }

constexpr uid_t NOBODY = 65534;

std::string bytes(size_t count, unsigned seed) {
    std::string data(count, '\0');
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return data;
}

// Debug lines land in the simulated machine; each test gets a fresh one.
class CopyDirectoryTest : public ::testing::Test {
protected:
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    TempDir temp;

    std::string src(const std::string& name = "") const { return temp.file("src" + name); }
    std::string dst(const std::string& name = "") const { return temp.file("dst" + name); }
    std::vector<std::string> lines() const { return sim.debugLines(); }
};

TEST_F(CopyDirectoryTest, EmptyFolderBecomesEmptyFolder) {
    fs::create_directory(src());
    EXPECT_TRUE(copyDirectory(q(src()), q(dst())));
    EXPECT_TRUE(fs::is_directory(dst()));
    EXPECT_TRUE(fs::is_empty(dst()));
    EXPECT_TRUE(lines().empty());
}

TEST_F(CopyDirectoryTest, FilesAroundTheBufferSizeKeepEveryByte) {
    for (size_t size : {size_t(0), size_t(1), size_t(COPY_BUFFER_BYTES), size_t(COPY_BUFFER_BYTES + 1),
                        size_t(3 * COPY_BUFFER_BYTES + 17)}) {
        SCOPED_TRACE(size);
        const std::string data = bytes(size, static_cast<unsigned>(size));
        const std::string from = src(std::to_string(size));
        const std::string to = dst(std::to_string(size));
        ASSERT_TRUE(writeWholeFile(from, data));
        EXPECT_TRUE(copyDirectory(q(from), q(to)));
        ASSERT_TRUE(fs::exists(to));
        EXPECT_EQ(readWholeFile(to), data);
    }
    EXPECT_TRUE(lines().empty());
}

TEST_F(CopyDirectoryTest, TreeIsCopiedAndDotNamesAreSkipped) {
    fs::create_directories(src("/grub"));
    fs::create_directories(src("/.hidden/inner"));
    writeWholeFile(src("/grub/stage2"), bytes(9000, 1));
    writeWholeFile(src("/grub/menu.lst"), "default 0\n");
    writeWholeFile(src("/Readme"), "x");
    writeWholeFile(src("/.profile"), "dot file");
    writeWholeFile(src("/.hidden/inner/file"), "inside a dot folder");

    EXPECT_TRUE(copyDirectory(q(src()), q(dst())));
    EXPECT_EQ(readWholeFile(dst("/grub/stage2")), bytes(9000, 1));
    EXPECT_EQ(readWholeFile(dst("/grub/menu.lst")), "default 0\n");
    EXPECT_EQ(readWholeFile(dst("/Readme")), "x");
    EXPECT_FALSE(fs::exists(dst("/.profile")));
    EXPECT_FALSE(fs::exists(dst("/.hidden")));
    EXPECT_TRUE(lines().empty());
}

TEST_F(CopyDirectoryTest, ExistingFileIsOverwrittenAndTruncated) {
    writeWholeFile(src(), "short");
    writeWholeFile(dst(), bytes(20000, 7));
    EXPECT_TRUE(copyDirectory(q(src()), q(dst())));
    EXPECT_EQ(readWholeFile(dst()), "short");
}

TEST_F(CopyDirectoryTest, MissingSourceFails) {
    EXPECT_FALSE(copyDirectory(q(src()), q(dst())));
    EXPECT_EQ(lines(), std::vector<std::string>{"Copy failed: source does not exist\n"});
    EXPECT_FALSE(fs::exists(dst()));
}

TEST_F(CopyDirectoryTest, ExistingDestinationFolderFailsAndCopiesNothing) {
    fs::create_directory(src());
    writeWholeFile(src("/a"), "a");
    fs::create_directory(dst());
    EXPECT_FALSE(copyDirectory(q(src()), q(dst())));
    EXPECT_EQ(lines(), std::vector<std::string>{"Copy failed: unable to create directory\n"});
    EXPECT_FALSE(fs::exists(dst("/a")));
}

TEST_F(CopyDirectoryTest, MissingParentFailsForFoldersAndFiles) {
    fs::create_directory(src());
    EXPECT_FALSE(copyDirectory(q(src()), q(dst("/no/folder"))));
    writeWholeFile(src("/file"), "a");
    EXPECT_FALSE(copyDirectory(q(src("/file")), q(dst("/no/file"))));
    EXPECT_EQ(lines(), (std::vector<std::string>{"Copy failed: unable to create directory\n",
                                                 "Copy failed: unable to open file\n"}));
    EXPECT_FALSE(fs::exists(dst()));
}

// A card holds any name (long names are UTF-16), so names outside ASCII and
// Latin-1 are copied under their own bytes.
TEST_F(CopyDirectoryTest, NamesOutsideAsciiAreCopiedUnderTheirOwnName) {
    fs::create_directory(src());
    const char* names[] = {"/a", "/b\xE2\x82\xAC", "/\xC3\xBC" "ber-\xC3\x9F.txt"};  // b€, über-ß.txt
    for (const char* name : names) writeWholeFile(src(name), name);
    EXPECT_TRUE(copyDirectory(q(src()), q(dst())));
    EXPECT_EQ(lines(), std::vector<std::string>{});
    for (const char* name : names) EXPECT_EQ(readWholeFile(dst(name)), name);
}

TEST_F(CopyDirectoryTest, ReadErrorIsNotTakenForTheEndOfTheFile) {
    if (!fs::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem to fail a read";
    // Reading a process's memory at offset 0 fails with an I/O error.
    EXPECT_FALSE(copyDirectory(QStringLiteral("/proc/self/mem"), q(dst())));
    EXPECT_EQ(lines(), std::vector<std::string>{"Copy failed: error reading source file\n"});
}

// Whatever cannot be copied faithfully stops the tree at the second of three
// entries, with one line naming it: links (never followed, wherever they
// lead), special files, a folder that cannot be listed, a name the toolkit
// cannot decode (a folder holding it is refused before it is made).
TEST_F(CopyDirectoryTest, WhatCannotBeCopiedFaithfullyStopsTheTree) {
    struct Case {
        const char* what;
        std::function<void(const std::string& b)> make;
        std::string line;  // %s stands for the path of b
        bool asOtherUser;  // root reads every folder: list b as nobody
    };
    const std::vector<Case> cases = {
        {"link to a file", [](const std::string& b) { fs::create_symlink("/etc/hostname", b); },
         "Copy failed: %s is a symbolic link\n", false},
        {"link to its own folder", [](const std::string& b) { fs::create_directory_symlink(".", b); },
         "Copy failed: %s is a symbolic link\n", false},
        {"dangling link", [](const std::string& b) { fs::create_symlink("nowhere", b); },
         "Copy failed: %s is a symbolic link\n", false},
        {"fifo", [](const std::string& b) { ASSERT_EQ(mkfifo(b.c_str(), 0644), 0); },
         "Copy failed: %s is not a file or folder\n", false},
        {"socket",
         [](const std::string& b) {
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             ASSERT_LT(b.size(), sizeof address.sun_path);
             std::strcpy(address.sun_path, b.c_str());
             ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
             close(fd);
         },
         "Copy failed: %s is not a file or folder\n", false},
        {"undecodable name",
         [](const std::string& b) {
             fs::create_directory(b);
             writeWholeFile(b + "/x\xFF", "lost");
         },
         "Copy failed: a name in %s cannot be converted\n", false},
        {"unreadable folder",
         [](const std::string& b) {
             fs::create_directory(b);
             fs::permissions(b, fs::perms::none);
         },
         "Copy failed: unable to list directory %s\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tree;
        // Short paths keep a socket's name within its limit.
        const std::string from = tree.file("s"), to = tree.file("d"), b = from + "/b";
        fs::create_directory(from);
        writeWholeFile(from + "/a", "first");
        writeWholeFile(from + "/c", "third");
        c.make(b);
        sim.clearDebugLines();
        bool copied = true;
        if (c.asOtherUser && geteuid() == 0) {
            fs::permissions(tree.path(), fs::perms::all);
            setfsuid(NOBODY);
            copied = copyDirectory(q(from), q(to));
            setfsuid(0);
        } else {
            copied = copyDirectory(q(from), q(to));
        }
        EXPECT_FALSE(copied);
        std::string line = c.line;
        line.replace(line.find("%s"), 2, b);
        EXPECT_EQ(lines(), std::vector<std::string>{line});
        EXPECT_EQ(readWholeFile(to + "/a"), "first");
        EXPECT_FALSE(fs::exists(fs::symlink_status(to + "/b")));
        EXPECT_FALSE(fs::exists(to + "/c"));
        // Readable again, so that the folder can be removed.
        std::error_code ignored;
        if (fs::is_directory(fs::symlink_status(b))) fs::permissions(b, fs::perms::owner_all, ignored);
    }
}

TEST_F(CopyDirectoryTest, LinkOrSpecialFileAsTheSourceIsRefused) {
    writeWholeFile(src("file"), "x");
    fs::create_symlink(src("file"), src("link"));
    EXPECT_FALSE(copyDirectory(q(src("link")), q(dst())));
    EXPECT_FALSE(copyDirectory(QStringLiteral("/dev/null"), q(dst())));
    EXPECT_EQ(lines(), (std::vector<std::string>{"Copy failed: " + src("link") + " is a symbolic link\n",
                                                 "Copy failed: /dev/null is not a file or folder\n"}));
    EXPECT_FALSE(fs::exists(dst()));
}

TEST_F(CopyDirectoryTest, FullDeviceGivesShortWriteOrFailedClose) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // A chunk larger than the stream's buffer goes out at once and comes back
    // short; a small one waits in the buffer and fails only at the close.
    writeWholeFile(src("big"), bytes(3 * COPY_BUFFER_BYTES, 3));
    writeWholeFile(src("small"), "ten bytes!");
    EXPECT_FALSE(copyDirectory(q(src("big")), QStringLiteral("/dev/full")));
    EXPECT_FALSE(copyDirectory(q(src("small")), QStringLiteral("/dev/full")));
    EXPECT_EQ(lines(), (std::vector<std::string>{"Copy failed: short write to destination file\n",
                                                 "Copy failed: unable to close destination file\n"}));
}

TEST_F(CopyDirectoryTest, RelativeDestinationLiesBelowTheWorkingDirectory) {
    fs::create_directories(src("/sub"));
    writeWholeFile(src("/sub/f"), "data");
    const fs::path previous = fs::current_path();
    fs::current_path(temp.path());
    const bool copied = copyDirectory(q(src()), QStringLiteral("out"));
    fs::current_path(previous);
    EXPECT_TRUE(copied);
    EXPECT_EQ(readWholeFile(temp.file("out/sub/f")), "data");
    EXPECT_FALSE(fs::exists(src("/out")));
}

}  // namespace
