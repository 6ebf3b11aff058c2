// The copier's cases that need nothing of one OS: they run under wine too.
#include "copy_directory_fixture.h"

#include <QDir>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

// Gives the file the OS's hidden mark; false where the OS has none beside a
// leading dot (POSIX), or where it did not stick.
bool markHidden(const fs::path& path) {
#ifdef _WIN32
    return SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN) &&
           (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
#else
    (void)path;
    return false;
#endif
}

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

// Which entries of a folder are copied: names in any script, as the OS holds
// them; a Windows shortcut, which is an ordinary file; not a file the OS
// marks hidden, which the wizard never copied.
TEST_F(CopyDirectoryTest, EntriesAreCopiedByTheirNamesAndMarks) {
    struct Case {
        const char* what;
        const char* name;  // UTF-8
        bool folder;
        bool hidden;
        bool copied;
    };
    const Case cases[] = {
        {"accented Latin name", "caf\xC3\xA9.txt", false, false, true},
        {"Cyrillic name", "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt", false, false, true},
        {"folder with an accented name", "donn\xC3\xA9" "es", true, false, true},
        {"shortcut", "menu.lnk", false, false, true},
        {"hidden file", "thumbs.db", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tree;
        const fs::path from = fs::u8path(tree.file("s")), to = fs::u8path(tree.file("d"));
        const fs::path entry = from / fs::u8path(c.name);
        fs::create_directory(from);
        // A file, or a folder holding one; each file holds its own name.
        const fs::path file = c.folder ? entry / "inner.txt" : entry;
        if (c.folder) fs::create_directory(entry);
        std::ofstream(file, std::ios::binary) << c.name;
        if (c.hidden && !markHidden(entry)) continue;  // dot names: see above
        sim.clearDebugLines();
        EXPECT_TRUE(copyDirectory(QString::fromStdString(from.u8string()),
                                  QString::fromStdString(to.u8string())));
        EXPECT_EQ(lines(), std::vector<std::string>{});
        const fs::path copy = to / fs::relative(file, from);
        EXPECT_EQ(fs::exists(copy), c.copied);
        if (c.copied) {
            std::ifstream in(copy, std::ios::binary);
            const std::string held((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_EQ(held, c.name);
        }
    }
}

}  // namespace
