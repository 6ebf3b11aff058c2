// The recovery wizard on the guest's own drives (the native backend), clicked
// through by the demo's autopilot, which picks the row of the given drive.
// Run from the folder that holds files/boot and firmware/t6-board.fw.
//
// Usage: vm_wizard DRIVE_NUMBER   (exit 0: it ended on the finish page)
#include "demo/demo_autopilot.h"
#include "guest_only.h"
#include "release/version.h"
#include "main/zel_recovery_wizard.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vm_wizard DRIVE_NUMBER\n");
        return 2;
    }
    if (!inTestGuest()) return 2;
    QApplication application(argc, argv);
    int lastPage = -1;
    {
        ZelRecoveryWizard wizard(versionString(programVersion, false));
        QObject::connect(&wizard, &QWizard::currentIdChanged, [&lastPage](int id) {
            if (id < 0) return;
            lastPage = id;
            std::printf("wizard: page %d\n", id);
            std::fflush(stdout);
        });
        wizard.show();
        DemoAutopilot autopilot(wizard, QString(), nullptr);
        autopilot.pickDrive(std::atoi(argv[1]));
        autopilot.start();
        application.exec();
    }
    return lastPage == FINISH_PAGE_ID ? 0 : 1;
}
