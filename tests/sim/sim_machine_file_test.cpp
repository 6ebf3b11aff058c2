#include "platform/sim/machine_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace platform;

struct Case {
    const char* json;
    const char* error;  // the fault named after "<file>: ", or "" when the file loads
};

// Every key, then one fault at a time: each is named with where it stands.
const Case CASES[] = {
    {R"({"drives": [{"number": 2, "image": "card.img", "vendor": "V", "product": "P", "heads": 16,
         "sectorsPerTrack": 32, "removable": false, "media": true, "writeProtected": true,
         "writeDelayMs": 30, "busyForMs": 2000, "sharedHoldMs": 3000,
         "mediaChanges": [{"atMs": 500, "media": false},
                          {"atMs": 900, "media": true, "image": "c2.img", "writeProtected": false}],
         "afterRepartition": {"letters": ["G"], "folders": ["own"]}}],
        "volumes": [{"letter": "", "folder": "sub/vol", "drive": 2, "startSector": 63,
         "sectors": 1000, "heldOpen": true}],
        "afterRepartition": {"arriveAfterMs": -1, "letters": ["F", ""], "folders": ["b"],
         "staleForMs": 5},
        "autopilotDrive": 2, "unlockAfterVanishFails": true, "remountAfterDismountMs": 100,
        "newVolumesGetLetters": false, "slowLetters": ["Z", "Y"]})",
     ""},
    {R"({"drives": [{"number": 1, "image": "card.img", "color": "red"}]})", "drives[0].color: unknown key"},
    {R"({"drives": [], "extra": 1})", "extra: unknown key"},
    {R"({"volumes": []})", "drives: missing"},
    {R"({"drives": [{"number": 1}]})", "drives[0].image: missing"},
    {R"({"drives": [{"number": 1, "image": "none.img"}]})", "drives[0].image: no such file: "},
    {R"({"drives": [{"number": 1, "image": "card.img", "heads": 2.5}]})",
     "drives[0].heads: not a whole number from 0 to 4294967295"},
    {R"({"drives": [{"number": 1, "image": "card.img"}], "volumes": [{"letter": "e"}]})",
     "volumes[0].letter: not a drive letter from A to Z, or \"\""},
    {R"({"drives": [{"number": 1, "image": "card.img"}],
         "afterRepartition": {"letters": ["E"], "stale": 1}})",
     "afterRepartition.stale: unknown key"},
    {R"({"drives": [{"number": 1, "image": "card.img", "removable": 1}]})",
     "drives[0].removable: not true or false"},
    {R"({"drives": [{"number": 1, "image": "card.img"}], "slowLetters": ["Z", "zz"]})",
     "slowLetters[1]: not a drive letter from A to Z, or \"\""},
    {R"({"drives": [{"number": 1, "image": "card.img"}], "newVolumesGetLetters": 0})",
     "newVolumesGetLetters: not true or false"},
    {R"({"drives": [{"number": 1, "image": "card.img", "mediaChanges": [{"atMs": 5}]}]})",
     "drives[0].mediaChanges[0].media: missing"},
    {R"({"drives": [{"number": 1, "image": "card.img", "mediaChanges": [{"atMs": 5, "media": true},
         {"atMs": 4, "media": false}]}]})",
     "drives[0].mediaChanges[1].atMs: before the change listed before it"},
    {R"({"drives": [{"number": 1, "image": "card.img", "afterRepartition": {"stale": 1}}]})",
     "drives[0].afterRepartition.stale: unknown key"},
    {"[1]", "not a JSON object"},
};

TEST(SimMachineFile, LoadsEveryKeyAndNamesWhatIsWrong) {
    for (const Case& c : CASES) {
        TempDir dir;
        makeSparseFile(dir.file("card.img"), 1 << 20);
        makeSparseFile(dir.file("c2.img"), 1 << 20);
        writeWholeFile(dir.file("machine.json"), c.json);
        SimPlatform sim;
        SimMachineFile machine;
        std::string error;
        const bool loaded = loadSimMachine(dir.file("machine.json"), sim, machine, error);
        SCOPED_TRACE(c.json);
        if (*c.error != '\0') {
            EXPECT_FALSE(loaded);
            const std::string prefix = dir.file("machine.json") + ": ";
            EXPECT_EQ(error.substr(0, prefix.size() + std::strlen(c.error)), prefix + c.error);
            continue;
        }
        ASSERT_TRUE(loaded) << error;
        EXPECT_EQ(machine.autopilotDrive, 2);
        const SimDrive& drive = sim.drive(2);
        EXPECT_EQ(std::filesystem::path(drive.imagePath), std::filesystem::path(dir.file("card.img")));
        EXPECT_EQ(drive.vendor, "V");
        EXPECT_EQ(drive.heads, 16u);
        EXPECT_EQ(drive.sectorsPerTrack, 32u);
        EXPECT_FALSE(drive.removable);
        EXPECT_TRUE(drive.writeProtected);
        EXPECT_EQ(drive.writeDelayMs, 30u);
        EXPECT_EQ(drive.busyForMs, 2000u);
        EXPECT_EQ(drive.sharedHoldMs, 3000u);
        ASSERT_EQ(drive.mediaChanges.size(), 2u);
        EXPECT_EQ(drive.mediaChanges[0].atMs, 500u);
        EXPECT_FALSE(drive.mediaChanges[0].media);
        EXPECT_TRUE(drive.mediaChanges[0].imagePath.empty());
        EXPECT_FALSE(drive.mediaChanges[0].writeProtected.has_value());
        EXPECT_EQ(std::filesystem::path(drive.mediaChanges[1].imagePath),
                  std::filesystem::path(dir.file("c2.img")));
        EXPECT_EQ(drive.mediaChanges[1].writeProtected, std::optional<bool>(false));
        ASSERT_TRUE(drive.afterRepartition.has_value());
        EXPECT_EQ(drive.afterRepartition->letters, std::vector<char>{'G'});
        EXPECT_EQ(std::filesystem::path(drive.afterRepartition->folders.at(0)),
                  std::filesystem::path(dir.file("own")));
        // The volume has no letter: it is found by its name.
        EXPECT_EQ(sim.GetLogicalDrives(), 0u);
        char16_t name[VOLUME_NAME_CHARS];
        const Handle search = sim.FindFirstVolumeW(name, VOLUME_NAME_CHARS);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        sim.FindVolumeClose(search);
        std::string text;
        for (const char16_t* at = name; *at != 0; ++at) text += static_cast<char>(*at);
        const SimVolume& volume = sim.volumeNamed(text);
        EXPECT_TRUE(std::filesystem::is_directory(volume.directory));
        EXPECT_EQ(std::filesystem::path(volume.directory), std::filesystem::path(dir.file("sub/vol")));
        EXPECT_EQ(volume.startSector, 63u);
        EXPECT_EQ(volume.sectors, 1000u);
        EXPECT_TRUE(volume.heldOpen);
        const SimChoices& choices = sim.choices();
        EXPECT_TRUE(choices.unlockAfterVanishFails);
        EXPECT_EQ(choices.remountAfterDismountMs, 100u);
        EXPECT_FALSE(choices.newVolumesGetLetters);
        EXPECT_EQ(choices.slowLetters, (std::set<char>{'Y', 'Z'}));
    }
}

}  // namespace
