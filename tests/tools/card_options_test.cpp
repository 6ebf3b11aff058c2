// The command line of t6-card: what is accepted, and every way of getting it
// wrong that must end as a usage error before anything is touched.

#include "tools/card_help.h"
#include "tools/card_log.h"
#include "tools/card_options.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

CardOptions parsed(const Arguments& arguments) {
    CardOptions options;
    std::string error;
    EXPECT_TRUE(parseCardOptions(arguments, options, error)) << error;
    return options;
}

TEST(CardOptions, ImageTakesSizeOrSectorsAndGeometry) {
    CardOptions options = parsed({"image", "out.img", "--size", "1073741824"});
    EXPECT_EQ(options.command, CardCommand::Image);
    EXPECT_EQ(options.target, "out.img");
    EXPECT_EQ(options.driveNumber, NO_DRIVE);
    EXPECT_EQ(options.imageSectors, 2097152u);
    EXPECT_EQ(options.heads, 255u);
    EXPECT_EQ(options.sectorsPerTrack, 63u);

    options = parsed({"image", "--sectors=1000944", "--geometry", "16/63", "out.img"});
    EXPECT_EQ(options.imageSectors, 1000944u);
    EXPECT_EQ(options.heads, 16u);
    EXPECT_EQ(options.sectorsPerTrack, 63u);

    options = parsed({"image", "o.img", "--sectors", "4294967295", "--files", "f/boot",
                      "--firmware", "fw.bin"});
    EXPECT_EQ(options.imageSectors, 4294967295u);
    EXPECT_EQ(options.filesDir, "f/boot");
    EXPECT_EQ(options.firmwareFile, "fw.bin");
}

TEST(CardOptions, FormatTakesPartitionTypeClusterAndLabel) {
    const CardOptions options = parsed({"format", "card.img", "--partition", "3", "--fat", "32",
                                        "--cluster-bytes", "4096", "--label", "spare one"});
    EXPECT_EQ(options.command, CardCommand::Format);
    EXPECT_EQ(options.partitionIndex, 3u);
    EXPECT_EQ(options.fatType, 32);
    EXPECT_EQ(options.clusterBytes, 4096u);
    EXPECT_EQ(options.label, "spare one");
    // Cluster sizes from one sector to 128, or 0 for the automatic choice;
    // a label of up to 11 printable ASCII characters that FAT allows.
    for (const char* bytes : {"0", "512", "65536"})
        EXPECT_EQ(parsed({"format", "c.img", "--partition", "0", "--cluster-bytes", bytes,
                          "--label", "x"}).clusterBytes,
                  std::stoul(bytes));
    EXPECT_EQ(parsed({"format", "c.img", "--partition", "0", "--label", "t6sc boot-!"}).label,
              "t6sc boot-!");
}

TEST(CardOptions, DrivesAreNamedByNumberOrPathAndNeedTheSameConfirmation) {
    EXPECT_EQ(parseDriveArgument("3"), 3);
    EXPECT_EQ(parseDriveArgument("\\\\.\\PhysicalDrive12"), 12);
    EXPECT_EQ(parseDriveArgument("./3"), NO_DRIVE);
    EXPECT_EQ(parseDriveArgument("card.img"), NO_DRIVE);
    EXPECT_EQ(parseDriveArgument("\\\\.\\PhysicalDrive"), NO_DRIVE);
    EXPECT_EQ(parseDriveArgument("-1"), NO_DRIVE);

    CardOptions options = parsed({"partition", "2", "--yes-destroy-drive", "2"});
    EXPECT_EQ(options.driveNumber, 2);
    EXPECT_EQ(options.confirmedDrive, 2);
    // Reading a drive needs no confirmation.
    options = parsed({"inspect", "\\\\.\\PhysicalDrive5"});
    EXPECT_EQ(options.driveNumber, 5);
    options = parsed({"install", "/dev/sdb", "--files", "b", "--firmware", "f",
                      "--yes-destroy-drive", "/dev/sdb"});
    EXPECT_EQ(options.command, CardCommand::Install);
    EXPECT_EQ(options.devicePath, "/dev/sdb");
    EXPECT_EQ(options.driveNumber, NO_DRIVE);  // the backend resolves it when the command runs
    EXPECT_EQ(parsed({"list"}).command, CardCommand::List);
    EXPECT_EQ(parsed({"--help"}).command, CardCommand::Help);

    // Several cards: drives confirmed in any order and either form, images as they are.
    options = parsed({"install", "2", "c.img", "/dev/sdc", "--yes-destroy-drive", "/dev/sdc",
                      "\\\\.\\PhysicalDrive2", "--files", "b", "--firmware", "f"});
    EXPECT_TRUE(options.manyTargets());
    EXPECT_EQ(options.targets, (Arguments{"2", "c.img", "/dev/sdc"}));
    options = parsed({"station", "--reader", "2", "/dev/disk/by-path/usb-0:1", "--files", "b",
                      "--firmware", "f", "--yes-destroy-cards-in", "/dev/disk/by-path/usb-0:1",
                      "--yes-destroy-cards-in", "2"});
    EXPECT_EQ(options.command, CardCommand::Station);
    EXPECT_EQ(options.readers, (Arguments{"2", "/dev/disk/by-path/usb-0:1"}));
}

TEST(CardOptions, BadUsageIsRefusedWithASentence) {
    const std::vector<Arguments> bad = {
        {},
        {"rebuild", "card.img"},
        {"list", "card.img"},
        {"list", "--size", "512"},
        {"inspect"},
        {"inspect", "a.img", "b.img"},
        {"image", "out.img"},                                          // no size
        {"image", "out.img", "--size", "512", "--sectors", "1"},       // both
        {"image", "out.img", "--size", "1000"},                        // not whole sectors
        {"image", "out.img", "--size", "0"},
        {"image", "out.img", "--size", "2199023255552"},               // 2^32 sectors
        {"image", "out.img", "--sectors", "4294967296"},
        {"image", "out.img", "--sectors", "-5"},
        {"image", "out.img", "--sectors", "1e6"},
        {"image", "out.img", "--sectors", "100", "--geometry", "256/63"},
        {"image", "out.img", "--sectors", "100", "--geometry", "255/64"},
        {"image", "out.img", "--sectors", "100", "--geometry", "0/63"},
        {"image", "out.img", "--sectors", "100", "--geometry", "255"},
        {"image", "out.img", "--sectors", "100", "--files", "boot"},    // without firmware
        {"image", "out.img", "--sectors", "100", "--firmware", "fw"},   // without files
        {"image", "3", "--sectors", "100"},                            // a drive
        {"image", "out.img", "--sectors"},                             // value missing
        {"image", "out.img", "--sectors", "1", "--sectors", "2"},
        {"image", "out.img", "--sectors", "100", "--label", "x"},      // not an image option
        {"format", "card.img", "--label", "x"},                        // no partition
        {"format", "card.img", "--partition", "0"},                    // no label
        {"format", "card.img", "--partition", "4", "--label", "x"},
        {"format", "card.img", "--partition", "0", "--fat", "12", "--label", "x"},
        {"format", "card.img", "--partition", "0", "--cluster-bytes", "4k", "--label", "x"},
        {"format", "card.img", "--partition", "0", "--cluster-bytes", "256", "--label", "x"},
        {"format", "card.img", "--partition", "0", "--cluster-bytes", "1536", "--label", "x"},
        {"format", "card.img", "--partition", "0", "--cluster-bytes", "131072", "--label", "x"},
        {"format", "card.img", "--partition", "0", "--cluster-bytes", "4294967295", "--label", "x"},
        {"format", "card.img", "--partition", "0", "--label", "a/b"},
        {"format", "card.img", "--partition", "0", "--label", "v1.2"},
        {"format", "card.img", "--partition", "0", "--label", "tab\there"},
        {"format", "card.img", "--partition", "0", "--label", "a*?"},
        {"format", "card.img", "--partition", "0", "--label", ""},
        {"format", "card.img", "--partition", "0", "--label", " boot"},
        {"format", "card.img", "--partition", "0", "--label", "   "},
        {"image", "", "--sectors", "100"},
        {"partition", "2"},                                            // unconfirmed drive
        {"partition", "2", "--yes-destroy-drive", "3"},                // another drive confirmed
        {"bootloader", "\\\\.\\PhysicalDrive2", "--yes-destroy-drive", "20"},
        {"format", "2", "--partition", "0", "--label", "x"},
        {"partition", "2", "--yes-destroy-drive", "2", "--geometry", "16/63"},
        {"partition", "card.img", "--yes-destroy-drive", "2"},         // not a drive
        {"inspect", "card.img", "--geometry", "16/63"},
        {"install", "card.img", "--files", "b"},                        // no firmware
        {"install", "2", "--files", "b", "--firmware", "f"},           // unconfirmed drive
        {"install", "/dev/sdb", "--files", "b", "--firmware", "f", "--yes-destroy-drive", "1"},
        {"install", "/dev/sdb", "--files", "b", "--firmware", "f", "--yes-destroy-drive",
         "/dev/sdb", "--geometry", "16/63"},
        {"image", "/dev/sdb", "--sectors", "100"},
        {"install", "2", "--files", "b", "--firmware", "f", "--yes-destroy-drive", "2",
         "--allow-loop"},                                              // loop needs a device path
        {"inspect", "/dev/loop0", "--allow-loop=yes"},
        {"--help", "list"},
        {"install", "1", "2", "--files", "b", "--firmware", "f", "--yes-destroy-drive", "1"},
        {"install", "1", "\\\\.\\PhysicalDrive1", "--files", "b", "--firmware", "f",
         "--yes-destroy-drive", "1"},                                  // one drive twice
        {"install", "1", "a.img", "--files", "b", "--firmware", "f", "--yes-destroy-drive", "1",
         "3"},                                                         // 3 is not rebuilt
        {"install", "2", "--files", "b", "--firmware", "f", "--yes-destroy-drive", "2", "3"},
        {"install", "a.img", "a.img", "--files", "b", "--firmware", "f"},
        {"install", "a.img", "b.img", "--files", "b", "--firmware", "f", "--geometry", "16/63"},
        {"station", "--files", "b", "--firmware", "f"},                 // no reader
        {"station", "--reader", "1", "2", "--files", "b", "--firmware", "f",
         "--yes-destroy-cards-in", "1"},
        {"station", "--reader", "1", "--files", "b", "--firmware", "f", "--yes-destroy-cards-in",
         "1", "2"},
        {"station", "--reader", "card.img", "--files", "b", "--firmware", "f",
         "--yes-destroy-cards-in", "card.img"},
        {"station", "1", "--reader", "1", "--files", "b", "--firmware", "f",
         "--yes-destroy-cards-in", "1"},
        {"station", "--reader", "1", "--yes-destroy-cards-in", "1"},    // no payload
    };
    for (const Arguments& arguments : bad) {
        CardOptions options;
        std::string error;
        std::string line;
        for (const std::string& argument : arguments) line += argument + " ";
        EXPECT_FALSE(parseCardOptions(arguments, options, error)) << line;
        ASSERT_FALSE(error.empty()) << line;
        EXPECT_EQ(error.back(), '.') << line << ": " << error;
    }
}

}  // namespace

namespace {

// Each command and each option the usage names has a line of its own in the
// help that the manual page is made from.
TEST(CardHelp, DescribesEveryCommandAndOptionOfTheUsage) {
    const std::string usage = cardUsage(), details = cardHelpDetails();
    const std::regex named("t6-card ([a-z]+)|(--[a-z-]+)");
    std::vector<std::string> names = {"--log", "--help", "--version"};
    for (std::sregex_iterator match(usage.begin(), usage.end(), named), end; match != end; ++match)
        names.push_back((*match)[1].matched ? (*match)[1].str() : (*match)[2].str());
    EXPECT_GT(names.size(), 20u);
    for (const std::string& name : names)
        EXPECT_NE(details.find("\n  " + name + " "), std::string::npos) << name;
}

TEST(CardLogOption, IsTakenFromAnyCommandOnce) {
    struct Row {
        Arguments arguments;
        bool accepted;
        std::string file;
        Arguments rest;
    };
    const Row rows[] = {
        {{"list"}, true, "", {"list"}},
        {{"list", "--log", "run.log"}, true, "run.log", {"list"}},
        {{"inspect", "--log=a b.log", "card.img"}, true, "a b.log", {"inspect", "card.img"}},
        {{"image", "o.img", "--log", "--sectors", "--sectors", "9"}, true, "--sectors",
         {"image", "o.img", "--sectors", "9"}},
        {{"--log", "x"}, true, "", {"--log", "x"}},  // the command's place: not an option
        {{"list", "--log"}, false, "", {}},
        {{"list", "--log="}, false, "", {}},
        {{"list", "--log", "a", "--log=b"}, false, "", {}},
    };
    for (const Row& row : rows) {
        Arguments arguments = row.arguments;
        std::string file, error;
        ASSERT_EQ(takeLogOption(arguments, file, error), row.accepted) << row.arguments.size();
        if (!row.accepted) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(file, row.file);
        EXPECT_EQ(arguments, row.rest);
    }
}

}  // namespace
