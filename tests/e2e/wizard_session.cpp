#include "wizard_session.h"

#include "bootloader/boot_sectors.h"
#include "platform/sim/machine_file.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QtTest>

namespace fs = std::filesystem;

bool offered(QWizard& wizard, QWizard::WizardButton which) {
    QAbstractButton* button = wizard.button(which);
    return button->isVisible() && button->isEnabled();
}

namespace {

void press(QWizard& wizard, QWizard::WizardButton which) {
    QVERIFY2(offered(wizard, which), "button not offered");
    QTest::mouseClick(wizard.button(which), Qt::LeftButton);
}

}  // namespace

QString shownState(int value, const QString& text) {
    return QString::number(value) + " " + text;
}

QStringList successHistory() {
    QStringList h = {shownState(0, "Partitioning drive..."),
                     shownState(11, "Formatting boot partition..."),
                     shownState(22, "Formatting data partition..."),
                     shownState(33, "Formatting complete")};
    for (int step : {34, 39, 44}) h << shownState(step, "Writing bootloader...");
    int value = 44;
    for (uint32_t i = 0; i < grubBootImages().stage15Sectors; ++i)
        h << shownState(++value, "Writing bootloader...");
    h << shownState(value, "Finished writing bootloader") << shownState(value, "Copying files...")
      << shownState(67, "Copying files...") << shownState(83, "Copying files...")
      << shownState(99, "Finished copying files") << shownState(100, "Finished successfully");
    return h;
}

QStringList failedAfter(int shown) {
    QStringList h = successHistory().mid(0, shown);
    if (shown > 0) h << shownState(-1, h.last().section(' ', 1));
    h << shownState(-1, "Finished - an error occurred");
    return h;
}

int indexOfText(const QStringList& history, const QString& text) {
    for (int i = 0; i < history.size(); ++i)
        if (history[i].section(' ', 1) == text) return i;
    return -1;
}

WizardSession::WizardSession(const Payload& payload, const std::string& machineFile) {
    makeSparseFile(image(), CARD_BYTES);
    if (!machineFile.empty()) {
        const std::string copy = temp_.file("machine.json");
        fs::copy_file(machineFile, copy);
        platform::SimMachineFile machine;
        std::string error;
        if (!platform::loadSimMachine(copy, sim, machine, error))
            QTest::qFail(error.c_str(), __FILE__, __LINE__);
    } else {
        platform::SimDrive drive;
        drive.imagePath = image();
        drive.heads = 255;
        drive.sectorsPerTrack = 63;
        drive.vendor = "Kestrel ";
        drive.product = "CF Reader";
        sim.addDrive(CARD_DRIVE, drive);

        platform::SimVolume volume;
        volume.directory = volumeFolder();
        volume.driveNumber = CARD_DRIVE;
        fs::create_directories(volume.directory);
        sim.addVolume(CARD_VOLUME, volume);
    }

    fs::create_directories(workFolder() + "/files/boot/grub");
    fs::create_directories(workFolder() + "/firmware");
    writeWholeFile(workFolder() + "/files/boot/grub/stage2", payload.stage2);
    writeWholeFile(workFolder() + "/files/boot/grub/menu.lst", payload.menu);
    writeWholeFile(workFolder() + "/firmware/t6-board.fw", payload.firmware);

    // The deployment reads its sources relative to the working directory.
    previousDirectory_ = fs::current_path();
    fs::current_path(workFolder());

    wizard_ = std::make_unique<ZelRecoveryWizard>("5.3");
    lastShown_ = shownState(installPage().progressBar->value(), installPage().statusLabel->text());
    // Every stage pumps the event loop after each visible change, so a look at
    // the page each time the event dispatcher wakes sees every change.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, this,
            &WizardSession::sample);
}

WizardSession::~WizardSession() {
    wizard_.reset();
    fs::current_path(previousDirectory_);
}

ZelRecoveryInstallPage& WizardSession::installPage() {
    return *qobject_cast<ZelRecoveryInstallPage*>(wizard_->page(INSTALL_PAGE_ID));
}

void WizardSession::sample() {
    ZelRecoveryInstallPage& page = installPage();
    const QString now = shownState(page.progressBar->value(), page.statusLabel->text());
    if (now != lastShown_) {
        lastShown_ = now;
        history << now;
        if (onChange) onChange(page.statusLabel->text());
    }
    if (wizard_->currentId() == INSTALL_PAGE_ID && !page.installComplete) {
        if (offered(*wizard_, QWizard::CommitButton) || offered(*wizard_, QWizard::BackButton) ||
            offered(*wizard_, QWizard::CancelButton))
            ++offeredDuringRun;
    }
}

void WizardSession::runInstallation(int timeoutMs) {
    wizard_->show();
    QVERIFY(QTest::qWaitForWindowExposed(wizard_.get()));
    press(*wizard_, QWizard::NextButton);
    QCOMPARE(wizard_->currentId(), int(DRIVE_SELECT_PAGE_ID));

    auto* list = wizard_->currentPage()->findChild<QListWidget*>();
    QVERIFY(list != nullptr);
    QCOMPARE(list->count(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    QCOMPARE(list->selectedItems().size(), 1);

    press(*wizard_, QWizard::NextButton);
    QCOMPARE(wizard_->currentId(), int(CONFIRM_PAGE_ID));
    QCOMPARE(wizard_->button(QWizard::CommitButton)->text(), QString("Next"));
    if (beforeCommit) beforeCommit();
    press(*wizard_, QWizard::CommitButton);
    QCOMPARE(wizard_->currentId(), int(INSTALL_PAGE_ID));
    QCOMPARE(installPage().driveNumber, CARD_DRIVE);

    QTRY_VERIFY_WITH_TIMEOUT(installPage().installComplete, timeoutMs);
    sample();
    QCOMPARE(QString(installPage().drivePath), QString("\\\\.\\PhysicalDrive1"));
}

int WizardSession::leaveInstallPage() {
    QAbstractButton* next = wizard_->button(QWizard::CommitButton);
    if (!offered(*wizard_, QWizard::CommitButton) || next->text() != "Next") return -1;
    QTest::mouseClick(next, Qt::LeftButton);
    return wizard_->currentId();
}

bool WizardSession::nothingHeld() const {
    return sim.openHandleCount() == 0 && !sim.driveLocked(CARD_DRIVE) &&
           !sim.volumeLocked(CARD_VOLUME);
}
