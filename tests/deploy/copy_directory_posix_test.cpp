// The copier's cases that make links, fifos and sockets, read /proc and
// /dev/full and drop rights per thread: POSIX only.
#include "copy_directory_fixture.h"

#include <QDir>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <cstring>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uid_t NOBODY = 65534;

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

}  // namespace
