// Where the deployment takes its sources from: a relative source from the
// working folder, or, where the working folder does not hold it, from the
// program's own folder (an elevated start may begin in another folder).
#include "deploy/payload_sources.h"

#include "install/working_directory.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QDir>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(PayloadSourcesTest, RelativeSourcesFallBackToTheProgramsFolder) {
    struct Case {
        const char* what;
        bool inWorkingFolder;
        bool inProgramFolder;
        bool fromProgramFolder;
    };
    const Case cases[] = {
        {"in both folders", true, true, false},
        {"only in the program's folder", false, true, true},
        {"in neither", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        const std::string work = temp.file("work"), program = temp.file("program");
        fs::create_directories(work);
        fs::create_directories(program);
        for (const auto& [folder, holds] : {std::pair{work, c.inWorkingFolder}, {program, c.inProgramFolder}}) {
            if (!holds) continue;
            fs::create_directories(folder + "/files/boot");
            fs::create_directories(folder + "/firmware");
            writeWholeFile(folder + "/firmware/t6-board.fw", "FIRMWARE");
        }
        WorkingDirectory in(work);
        PayloadSources sources = wizardSources(QString::fromStdString(program));
        locateSources(sources);
        const QString base = c.fromProgramFolder ? QDir(QString::fromStdString(program)).absolutePath() + "/"
                                                 : QString();
        EXPECT_EQ(sources.bootFolder.toStdString(), (base + "files/boot").toStdString());
        EXPECT_EQ(sources.firmware.toStdString(), (base + "firmware/t6-board.fw").toStdString());
    }
}

}  // namespace
