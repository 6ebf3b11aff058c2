// The recovery wizard, unchanged, on a simulated machine: one virtual 4 GB
// card (an image file, 255 heads, 63 sectors per track) as drive 1 and its
// volume E: as a folder. Run it from the folder that holds files/boot and
// firmware/t6-board.fw, as the real wizard. scripts/demo sets everything up.
//
// Usage: zel_demo_wizard --machine FILE [--autopilot PICTURES]
//        zel_demo_wizard --card IMAGE --volume FOLDER [--autopilot PICTURES] [--fail]
//   --machine    the simulated machine described in a JSON file
//                (platform/sim/machine_file.h)
//   --card, --volume  shorthand for a machine of one card and its volume
//   --autopilot  click through on its own and save each page into PICTURES
//   --fail       the card's volume goes missing before the installation
#include "demo/demo_autopilot.h"
#include "demo/pause_meter.h"
#include "release/run_log.h"
#include "release/version.h"
#include "main/zel_recovery_wizard.h"
#include "platform/sim/machine_file.h"
#include "platform/sim_platform.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <memory>

namespace {

constexpr int CARD_DRIVE = 1;
constexpr char CARD_VOLUME = 'E';

struct Options {
    QString machine, card, volume, pictures;
    bool fail = false;
};

bool parse(const QStringList& arguments, Options& options) {
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == "--machine" && hasValue) options.machine = arguments[++i];
        else if (a == "--card" && hasValue) options.card = arguments[++i];
        else if (a == "--volume" && hasValue) options.volume = arguments[++i];
        else if (a == "--autopilot" && hasValue) options.pictures = arguments[++i];
        else if (a == "--fail") options.fail = true;
        else return false;
    }
    if (!options.machine.isEmpty())
        return options.card.isEmpty() && options.volume.isEmpty() && !options.fail;
    return !options.card.isEmpty() && !options.volume.isEmpty();
}

// The shorthand machine: the card as drive 1, its volume as E:.
bool buildCardMachine(const Options& options, platform::SimPlatform& sim) {
    if (!QFileInfo(options.card).isFile() || !QFileInfo(options.volume).isDir()) {
        std::fprintf(stderr, "demo: the card image and the volume folder must exist\n");
        return false;
    }
    platform::SimDrive drive;
    drive.imagePath = options.card.toStdString();
    drive.heads = 255;
    drive.sectorsPerTrack = 63;
    drive.vendor = "Demo ";
    drive.product = "Virtual CF Card";
    sim.addDrive(CARD_DRIVE, drive);
    platform::SimVolume volume;
    volume.directory = options.volume.toStdString();
    volume.driveNumber = CARD_DRIVE;
    sim.addVolume(CARD_VOLUME, volume);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    Options options;
    if (!parse(QApplication::arguments(), options)) {
        std::fprintf(stderr,
                     "usage: %s --machine FILE [--autopilot PICTURES]\n"
                     "       %s --card IMAGE --volume FOLDER [--autopilot PICTURES] [--fail]\n",
                     argv[0], argv[0]);
        return 2;
    }

    platform::SimPlatform sim;
    platform::ScopedPlatform scoped(sim);
    sim.setEchoDebug(true);
    sim.setRecordCalls(false);  // nobody reads the call log in the demo
    platform::SimMachineFile machine;
    machine.autopilotDrive = CARD_DRIVE;
    if (!options.machine.isEmpty()) {
        std::string error;
        if (!platform::loadSimMachine(options.machine.toStdString(), sim, machine, error)) {
            std::fprintf(stderr, "demo: %s\n", error.c_str());
            return 2;
        }
    } else if (!buildCardMachine(options, sim)) {
        return 2;
    }

    // The run's support log stays in the demo's folder, beside the card.
    startRunLog("zel_recovery_wizard",
                QFileInfo("zel_recovery_wizard.log").absoluteFilePath().toStdString(),
                NO_DRIVE_CHOSEN);
    int result = 0;
    {
        ZelRecoveryWizard wizard(versionString(programVersion, false));
        const PauseMeter pauses(wizard);
        wizard.show();
        std::unique_ptr<DemoAutopilot> autopilot;
        if (!options.pictures.isEmpty()) {
            auto loseVolume = [&sim, &options] {
                if (options.fail) sim.removeVolume(CARD_VOLUME);
            };
            autopilot = std::make_unique<DemoAutopilot>(wizard, options.pictures, loseVolume);
            autopilot->pickDrive(machine.autopilotDrive);
            autopilot->start();
        } else if (options.fail) {
            sim.removeVolume(CARD_VOLUME);  // discovery lists drives, not volumes
        }
        result = application.exec();
        if (pauses.longestMs() >= 0)
            std::printf("demo: longest event-loop pause during the installation: %lld ms\n",
                        static_cast<long long>(pauses.longestMs()));
    }
    stopRunLog();
    return result;
}
