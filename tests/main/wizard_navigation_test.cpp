// Moving through the wizard as a user does, by its buttons, on simulated
// machines with a stand-in installation.
#include "fake_installation.h"
#include "release/run_log.h"
#include "main/zel_recovery_wizard.h"
#include "support/sim_machine.h"
#include "support/temp_dir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

bool offered(QWizard& wizard, QWizard::WizardButton which) {
    QAbstractButton* button = wizard.button(which);
    return button->isVisible() && button->isEnabled();
}

void press(QWizard& wizard, QWizard::WizardButton which) {
    QAbstractButton* button = wizard.button(which);
    QVERIFY2(button->isVisible() && button->isEnabled(), "button not offered");
    QTest::mouseClick(button, Qt::LeftButton);
}

QListWidget* driveList(QWizard& wizard) {
    return wizard.page(DRIVE_SELECT_PAGE_ID)->findChild<QListWidget*>();
}

ZelRecoveryInstallPage* installPage(QWizard& wizard) {
    return qobject_cast<ZelRecoveryInstallPage*>(wizard.page(INSTALL_PAGE_ID));
}

QString confirmedText(QWizard& wizard) {
    return qobject_cast<ZelRecoveryConfirmPage*>(wizard.page(CONFIRM_PAGE_ID))
        ->selectedDriveLabel->text();
}

}  // namespace

class WizardNavigationTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void introductionLeadsToDriveSelection();
    void nextWaitsForExactlyOneSelectedRow();
    void chosenRowHandsItsTextAndDriveNumberOn();
    void backFromConfirmKeepsListBackFromSelectionClearsIt();
    void noDriveMakesSelectionFinal();
    void installRunsOnceAndLeadsToOutcome_data();
    void installRunsOnceAndLeadsToOutcome();
    void installPageWithoutDriveStartsNothing();
    void cancelEndsEventLoopWithZero();

private:
    std::unique_ptr<SimMachine> machine;
    std::unique_ptr<ZelRecoveryWizard> wizard;
    void start();
    void goToConfirmWithRow(int row);
};

void WizardNavigationTest::init() {
    resetFakeInstallation();
    wizard.reset();
    machine.reset();  // its backend goes before the next one is installed
    machine = std::make_unique<SimMachine>();
}

void WizardNavigationTest::start() {
    wizard = std::make_unique<ZelRecoveryWizard>("5.3");
    useFakeInstallation(*wizard);
    wizard->show();
    QVERIFY(QTest::qWaitForWindowExposed(wizard.get()));
}

void WizardNavigationTest::goToConfirmWithRow(int row) {
    start();
    press(*wizard, QWizard::NextButton);
    driveList(*wizard)->setCurrentRow(row);
    press(*wizard, QWizard::NextButton);
    QCOMPARE(wizard->currentId(), int(CONFIRM_PAGE_ID));
}

void WizardNavigationTest::introductionLeadsToDriveSelection() {
    start();
    QCOMPARE(wizard->currentId(), int(INTRO_PAGE_ID));
    QVERIFY(offered(*wizard, QWizard::NextButton));
    QVERIFY(!offered(*wizard, QWizard::BackButton));
    QVERIFY(!wizard->page(INTRO_PAGE_ID)->isCommitPage());
    press(*wizard, QWizard::NextButton);
    QCOMPARE(wizard->currentId(), int(DRIVE_SELECT_PAGE_ID));
}

void WizardNavigationTest::nextWaitsForExactlyOneSelectedRow() {
    machine->addCard(4, 64000000);
    start();
    press(*wizard, QWizard::NextButton);
    QWizardPage* page = wizard->currentPage();
    QCOMPARE(driveList(*wizard)->count(), 1);
    QVERIFY(!offered(*wizard, QWizard::NextButton));
    QVERIFY(!offered(*wizard, QWizard::FinishButton));
    QCOMPARE(page->nextId(), int(CONFIRM_PAGE_ID));
    QVERIFY(!page->isCommitPage());

    driveList(*wizard)->setCurrentRow(0);
    QVERIFY(offered(*wizard, QWizard::NextButton));
    // Ctrl+click on the selected row clears the selection.
    QListWidget* list = driveList(*wizard);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(0)).center());
    QCOMPARE(list->selectedItems().size(), 0);
    QVERIFY(!offered(*wizard, QWizard::NextButton));
}

void WizardNavigationTest::chosenRowHandsItsTextAndDriveNumberOn() {
    machine->addCard(2, 64000000, "Kestrel", "First");
    machine->addCard(6, 128450560, "Kestrel", "Second");
    goToConfirmWithRow(1);
    QCOMPARE(confirmedText(*wizard), QString("Kestrel Second 128 MB"));
    QCOMPARE(installPage(*wizard)->driveNumber, 6);

    // Back, another row, Next: both values are replaced.
    press(*wizard, QWizard::BackButton);
    driveList(*wizard)->setCurrentRow(0);
    press(*wizard, QWizard::NextButton);
    QCOMPARE(confirmedText(*wizard), QString("Kestrel First 64 MB"));
    QCOMPARE(installPage(*wizard)->driveNumber, 2);
    QCOMPARE(fakeInstallation().runs, 0);
}

void WizardNavigationTest::backFromConfirmKeepsListBackFromSelectionClearsIt() {
    machine->addCard(1, 64000000, "Kestrel", "A");
    machine->addCard(3, 64000000, "Kestrel", "B");
    goToConfirmWithRow(1);
    machine->sim.clearCalls();

    press(*wizard, QWizard::BackButton);
    QCOMPARE(wizard->currentId(), int(DRIVE_SELECT_PAGE_ID));
    QCOMPARE(driveList(*wizard)->count(), 2);
    QCOMPARE(driveList(*wizard)->currentRow(), 1);
    QVERIFY(offered(*wizard, QWizard::NextButton));
    QVERIFY(machine->sim.calls().empty());  // no new discovery

    press(*wizard, QWizard::BackButton);
    QCOMPARE(wizard->currentId(), int(INTRO_PAGE_ID));
    QCOMPARE(driveList(*wizard)->count(), 0);
    // With list and map gone the page would be final until discovery runs again.
    QCOMPARE(wizard->page(DRIVE_SELECT_PAGE_ID)->nextId(), -1);

    machine->sim.drive(1).present = false;
    press(*wizard, QWizard::NextButton);
    QCOMPARE(driveList(*wizard)->count(), 1);
    QCOMPARE(driveList(*wizard)->item(0)->text(), QString("Kestrel B 64 MB"));
}

void WizardNavigationTest::noDriveMakesSelectionFinal() {
    start();
    press(*wizard, QWizard::NextButton);
    QCOMPARE(wizard->currentPage()->title(), QString("No Compact Flash Drive"));
    QVERIFY(offered(*wizard, QWizard::FinishButton));
    QVERIFY(!offered(*wizard, QWizard::NextButton));

    press(*wizard, QWizard::FinishButton);
    QVERIFY(!wizard->isVisible());
    QCOMPARE(wizard->result(), int(QDialog::Accepted));
    QCOMPARE(installPage(*wizard)->driveNumber, -1);
    QCOMPARE(confirmedText(*wizard), QString());
    QCOMPARE(fakeInstallation().runs, 0);
}

void WizardNavigationTest::installRunsOnceAndLeadsToOutcome_data() {
    QTest::addColumn<bool>("fail");
    QTest::addColumn<bool>("verified");  // the run read the card back
    QTest::addColumn<int>("outcomePage");
    QTest::newRow("success") << false << true << int(FINISH_PAGE_ID);
    QTest::newRow("success, card not read back") << false << false << int(FINISH_PAGE_ID);
    QTest::newRow("failure") << true << false << int(INSTALL_ERROR_PAGE_ID);
}

void WizardNavigationTest::installRunsOnceAndLeadsToOutcome() {
    QFETCH(bool, fail);
    QFETCH(bool, verified);
    QFETCH(int, outcomePage);
    machine->addCard(9, 64000000);
    goToConfirmWithRow(0);
    QVERIFY(wizard->page(CONFIRM_PAGE_ID)->isCommitPage());
    QCOMPARE(wizard->button(QWizard::CommitButton)->text(), QString("Next"));
    QVERIFY(offered(*wizard, QWizard::BackButton));

    TempDir folder;
    const std::string missingLog = folder.file("gone/run.log");
    startRunLog("zel_recovery_wizard", missingLog, NO_DRIVE_CHOSEN);
    fakeInstallation().fail = fail;
    fakeInstallation().outcome.verifiedFromCard = verified;
    if (fail) fakeInstallation().outcome.cause = "The card in drive 9 was removed.";
    bool nextDuringRun = true, backDuringRun = true;
    fakeInstallation().midRun = [&](StageReport&) {
        nextDuringRun = offered(*wizard, QWizard::CommitButton) || offered(*wizard, QWizard::NextButton);
        backDuringRun = offered(*wizard, QWizard::BackButton);
    };
    press(*wizard, QWizard::CommitButton);
    QCOMPARE(wizard->currentId(), int(INSTALL_PAGE_ID));
    QVERIFY(!offered(*wizard, QWizard::BackButton));
    QCOMPARE(fakeInstallation().runs, 0);  // started from the event loop, not on entry

    QTRY_COMPARE(fakeInstallation().runs, 1);
    QVERIFY(!nextDuringRun);
    QVERIFY(!backDuringRun);
    ZelRecoveryInstallPage* page = installPage(*wizard);
    QCOMPARE(fakeInstallation().driveNumber, 9);
    QCOMPARE(QString(page->drivePath), QString("\\\\.\\PhysicalDrive9"));
    QVERIFY(page->installComplete);
    QCOMPARE(page->installFailed, fail);
    QCOMPARE(page->nextId(), outcomePage);
    QCOMPARE(wizard->button(QWizard::CommitButton)->text(), QString("Next"));
    QVERIFY(offered(*wizard, QWizard::CommitButton));
    QVERIFY(!offered(*wizard, QWizard::BackButton));
    QCOMPARE(wizard->currentId(), int(INSTALL_PAGE_ID));  // never advances by itself

    press(*wizard, QWizard::CommitButton);
    QCOMPARE(wizard->currentId(), outcomePage);
    QVERIFY(offered(*wizard, QWizard::FinishButton));
    QVERIFY(!offered(*wizard, QWizard::NextButton));
    QVERIFY(!offered(*wizard, QWizard::BackButton));
    QCOMPARE(fakeInstallation().runs, 1);
    if (auto* finish = qobject_cast<ZelRecoveryFinishPage*>(wizard->currentPage()))
        QCOMPARE(finish->verifiedLabel->isVisible(), verified);
    if (auto* error = qobject_cast<ZelRecoveryInstallErrorPage*>(wizard->currentPage())) {
        QCOMPARE(error->causeLabel->text(), QString("The card in drive 9 was removed."));
        // A log that could not be written is still named, with the reason.
        // The system's own words for the missing folder follow.
        const QString named = "Support log: " + QString::fromStdString(missingLog) +
                              " (not written: the file cannot be created (";
        QVERIFY2(error->logLabel->text().startsWith(named) && error->logLabel->text().endsWith("))"),
                 qPrintable(error->logLabel->text()));
        QVERIFY(!error->openFolderButton->isEnabled());
    }
    press(*wizard, QWizard::FinishButton);
    QVERIFY(!wizard->isVisible());
    stopRunLog();
}

void WizardNavigationTest::installPageWithoutDriveStartsNothing() {
    start();
    ZelRecoveryInstallPage* page = installPage(*wizard);
    page->initializePage();
    QTest::qWait(50);
    QCOMPARE(fakeInstallation().runs, 0);
    QVERIFY(!page->isComplete());
}

void WizardNavigationTest::cancelEndsEventLoopWithZero() {
    start();
    QGuiApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, [this]() { wizard->button(QWizard::CancelButton)->click(); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!wizard->isVisible());
    QCOMPARE(wizard->result(), int(QDialog::Rejected));
}

QTEST_MAIN(WizardNavigationTest)
#include "wizard_navigation_test.moc"
