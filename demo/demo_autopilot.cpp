#include "demo/demo_autopilot.h"

#include "main/zel_recovery_wizard.h"

#include <QAbstractButton>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

namespace {

// Long enough to see each page in the window.
constexpr int PAUSE_MS = 700;

ZelRecoveryInstallPage* installPageOf(ZelRecoveryWizard& wizard) {
    return qobject_cast<ZelRecoveryInstallPage*>(wizard.page(INSTALL_PAGE_ID));
}

}  // namespace

DemoAutopilot::DemoAutopilot(ZelRecoveryWizard& wizard, const QString& pictureFolder,
                             std::function<void()> beforeInstall)
    : wizard_(wizard), pictureFolder_(pictureFolder), beforeInstall_(std::move(beforeInstall)) {
    if (!pictureFolder_.isEmpty()) QDir().mkpath(pictureFolder_);
}

void DemoAutopilot::start() {
    later();
}

void DemoAutopilot::later() {
    QTimer::singleShot(PAUSE_MS, this, &DemoAutopilot::step);
}

void DemoAutopilot::save(const QString& name) {
    if (pictureFolder_.isEmpty()) return;
    const QString path = pictureFolder_ + "/" + name + ".png";
    const QPixmap picture = wizard_.grab();
    if (!picture.save(path)) std::fprintf(stderr, "demo: cannot write %s\n", qPrintable(path));
    else std::printf("demo: page %d -> %s\n", wizard_.currentId(), qPrintable(path));
    std::fflush(stdout);
}

void DemoAutopilot::press(int button) {
    QAbstractButton* b = wizard_.button(QWizard::WizardButton(button));
    if (b == nullptr || !b->isVisible() || !b->isEnabled()) {
        std::fprintf(stderr, "demo: button %d not offered on page %d\n", button, wizard_.currentId());
        wizard_.close();
        return;
    }
    b->click();
}

// The install page shows the bar half-way through the boot loader.
void DemoAutopilot::onProgress(int value) {
    if (runningSaved_ || value < 50) return;
    runningSaved_ = true;
    save("3_install_running");
}

void DemoAutopilot::selectRow() {
    auto* list = wizard_.currentPage()->findChild<QListWidget*>();
    auto* page = qobject_cast<ZelRecoveryDriveSelectPage*>(wizard_.currentPage());
    if (list == nullptr || page == nullptr || list->count() == 0) return;
    if (drive_ < 0) {
        list->setCurrentRow(0);
        return;
    }
    for (int row = 0; row < list->count(); ++row) {
        list->setCurrentRow(row);
        int number = -1;
        QString text;
        if (page->selectedDrive(number, text) && number == drive_) return;
    }
    // Next must not go on with some other drive.
    list->clearSelection();
    std::fprintf(stderr, "demo: drive %d is not listed\n", drive_);
}

void DemoAutopilot::step() {
    ZelRecoveryInstallPage* install = installPageOf(wizard_);
    switch (stage_) {
    case 0:
        save("0_introduction");
        press(QWizard::NextButton);
        break;
    case 1:
        selectRow();
        save("1_drive_selection");
        press(QWizard::NextButton);
        break;
    case 2:
        save("2_confirm");
        if (beforeInstall_) beforeInstall_();
        connect(install->progressBar, &QProgressBar::valueChanged, this, &DemoAutopilot::onProgress);
        press(QWizard::CommitButton);
        break;
    case 3:
        // The run pumps the event loop, so this may come while it goes on.
        if (!install->installComplete) {
            later();
            return;
        }
        save(install->installFailed ? "3_install_failed" : "3_install_done");
        press(QWizard::CommitButton);
        break;
    case 4:
        save(wizard_.currentId() == FINISH_PAGE_ID ? "4_finish" : "5_install_error");
        press(QWizard::FinishButton);
        return;
    }
    ++stage_;
    later();
}
