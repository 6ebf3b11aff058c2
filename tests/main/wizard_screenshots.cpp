// Renders every page of the wizard to PNG files for a look by eye, on a
// simulated machine with two card readers and a stand-in installation.
// Usage: zel_wizard_screenshots <output folder>
#include "fake_installation.h"
#include "release/run_log.h"
#include "main/zel_recovery_wizard.h"
#include "support/sim_machine.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QTest>

#include <cstdio>

namespace {

QString outputFolder;

void save(QWizard& wizard, const QString& name) {
    QApplication::processEvents();
    const QString path = outputFolder + "/" + name + ".png";
    const QPixmap shot = wizard.grab();
    if (!shot.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::printf("%s %dx%d\n", qPrintable(path), shot.width(), shot.height());
}

void press(QWizard& wizard, QWizard::WizardButton which) {
    wizard.button(which)->click();
    QApplication::processEvents();
}

// One walk through the wizard; `failing` picks the outcome of the install.
void walk(const QString& prefix, QWizard::WizardStyle style, bool failing, bool allPages) {
    SimMachine machine;
    machine.addCard(1, 128450560, "Kestrel ", "CF Reader");
    machine.addCard(4, 16013942784, "Kestrel ", "Multi Card Reader");
    resetFakeInstallation();

    ZelRecoveryWizard wizard("5.3");
    useFakeInstallation(wizard);
    wizard.setWizardStyle(style);
    wizard.show();
    if (!QTest::qWaitForWindowExposed(&wizard)) std::fprintf(stderr, "window not exposed\n");
    if (allPages) save(wizard, prefix + "0_introduction");
    press(wizard, QWizard::NextButton);
    wizard.currentPage()->findChild<QListWidget*>()->setCurrentRow(1);
    if (allPages) save(wizard, prefix + "1_drive_selection");
    press(wizard, QWizard::NextButton);
    if (allPages) save(wizard, prefix + "2_confirm");

    fakeInstallation().fail = failing;
    fakeInstallation().outcome.verifiedFromCard = !failing;
    if (failing) {
        fakeInstallation().outcome.cause = "The card in drive 4 is write-protected (by the card, "
                                           "its adapter or the reader); nothing was written to it.";
        fakeInstallation().outcome.debugLines = {"Drive 4 is write-protected\n"};
    }
    fakeInstallation().midRun = [&](StageReport& report) {
        report.show(44, "Writing bootloader...");
        if (allPages) save(wizard, prefix + "3_install_running");
    };
    press(wizard, QWizard::CommitButton);
    QTRY_COMPARE(fakeInstallation().runs, 1);
    save(wizard, prefix + (failing ? "3_install_failed" : "3_install_done"));
    press(wizard, QWizard::CommitButton);
    save(wizard, prefix + (failing ? "5_install_error" : "4_finish"));
}

void noDrive(const QString& prefix, QWizard::WizardStyle style) {
    SimMachine machine;
    ZelRecoveryWizard wizard("5.3");
    wizard.setWizardStyle(style);
    wizard.show();
    if (!QTest::qWaitForWindowExposed(&wizard)) std::fprintf(stderr, "window not exposed\n");
    press(wizard, QWizard::NextButton);
    save(wizard, prefix + "1_no_drive");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    outputFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputFolder);
    // The error page names the run's log: one beside the pictures.
    startRunLog("zel_recovery_wizard", QDir(outputFolder).absoluteFilePath("run.log").toStdString(),
                NO_DRIVE_CHOSEN);

    // The style the program runs with on this platform, then the style that
    // shows banner and logo, for a look at all of the artwork.
    ZelRecoveryWizard probe("5.3");
    const QWizard::WizardStyle native = probe.wizardStyle();
    for (QWizard::WizardStyle style : {native, QWizard::ModernStyle}) {
        const QString prefix = style == native ? "" : "modern_";
        if (style == QWizard::ModernStyle && native == QWizard::ModernStyle) break;
        walk(prefix, style, false, true);
        walk(prefix, style, true, false);
        noDrive(prefix, style);
    }
    stopRunLog();
    QFile::remove(QDir(outputFolder).absoluteFilePath("run.log"));
    return 0;
}
