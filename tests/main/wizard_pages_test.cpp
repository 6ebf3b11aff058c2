// What each page shows: texts exactly as written, fonts, artwork, the install
// page's report display, and the wizard's checks of its own page registry.
#include "fake_installation.h"
#include "main/zel_recovery_wizard.h"
#include "support/sim_machine.h"

#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QtTest>

#include <cstdlib>

namespace {

struct LabelFacts {
    QString text;
    bool wrapped;
    bool bold;
};

// The page's labels in creation order (the order they were laid out in).
QList<LabelFacts> labels(QWidget* page) {
    QList<LabelFacts> facts;
    for (QLabel* label : page->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        facts.append({label->text(), label->wordWrap(), label->font().weight() == 75});
    return facts;
}

void compareLabels(QWidget* page, const QList<LabelFacts>& expected) {
    const QList<LabelFacts> actual = labels(page);
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < actual.size(); ++i) {
        QCOMPARE(actual[i].text, expected[i].text);
        QCOMPARE(actual[i].wrapped, expected[i].wrapped);
        QCOMPARE(actual[i].bold, expected[i].bold);
    }
}

QSize watermarkSize(QWizard& wizard, int id) {
    return wizard.page(id)->pixmap(QWizard::WatermarkPixmap).size();
}

// Child side of the assertion checks: a wizard whose page at `id` is of the
// wrong class, driven to the validation of the drive selection page.
[[noreturn]] void runBrokenRegistry(int id) {
    SimMachine machine;
    machine.sim.setEchoDebug(true);
    machine.addCard(0, 64000000);
    ZelRecoveryWizard wizard("5.3");
    wizard.removePage(id);
    wizard.setPage(id, new QWizardPage);
    wizard.show();
    wizard.next();
    if (id != DRIVE_SELECT_PAGE_ID)
        wizard.page(DRIVE_SELECT_PAGE_ID)->findChild<QListWidget*>()->setCurrentRow(0);
    wizard.validateCurrentPage();
    std::exit(0);  // not reached when the check works
}

}  // namespace

class WizardPagesTest : public QObject {
    Q_OBJECT

private slots:
    void windowTitleCarriesVersion();
    void introductionPage();
    void driveSelectionPanels();
    void confirmPage();
    void installPageStartsEmptyAndShowsReports();
    void installPageCleanupClearsDisplay();
    void finishAndErrorPages();
    void artworkIsCompiledInAtItsSizes();
    void brokenPageRegistryStopsTheProcess_data();
    void brokenPageRegistryStopsTheProcess();
    void noSelectionSkipsTheLaterChecks();
};

void WizardPagesTest::windowTitleCarriesVersion() {
    ZelRecoveryWizard wizard("5.3");
    QCOMPARE(wizard.windowTitle(), QString("Velmor T6 System Processor Recovery Wizard (5.3)"));
    QCOMPARE(ZelRecoveryWizard("2.1.7 DEBUG5").windowTitle(),
             QString("Velmor T6 System Processor Recovery Wizard (2.1.7 DEBUG5)"));
    QCOMPARE(wizard.pageIds(), (QList<int>{0, 1, 2, 3, 4, 5}));
    QCOMPARE(wizard.startId(), 0);
    QVERIFY(qobject_cast<ZelRecoveryIntroPage*>(wizard.page(0)));
    QVERIFY(qobject_cast<ZelRecoveryDriveSelectPage*>(wizard.page(1)));
    QVERIFY(qobject_cast<ZelRecoveryConfirmPage*>(wizard.page(2)));
    QVERIFY(qobject_cast<ZelRecoveryInstallPage*>(wizard.page(3)));
    QVERIFY(qobject_cast<ZelRecoveryFinishPage*>(wizard.page(4)));
    QVERIFY(qobject_cast<ZelRecoveryInstallErrorPage*>(wizard.page(5)));
}

void WizardPagesTest::introductionPage() {
    ZelRecoveryWizard wizard("5.3");
    QWizardPage* page = wizard.page(INTRO_PAGE_ID);
    QCOMPARE(page->title(), QString("Introduction"));
    QCOMPARE(page->subTitle(), QString());
    compareLabels(page, {
        {"This wizard will guide you through the process of restoring the Compact Flash (CF) "
         "card for your Velmor T6 System Processor.", true, false},
        {"You will be required to insert the CF card from the T6 System Processor into a CF card "
         "reader on this computer. Once the card is connected you must correctly identify its "
         "drive.", true, false},
        {"Incorrectly identifying the drive may result in unwanted data loss and may prevent "
         "your computer starting normally.", true, true},
    });
}

void WizardPagesTest::driveSelectionPanels() {
    ZelRecoveryWizard wizard("5.3");
    QWizardPage* page = wizard.page(DRIVE_SELECT_PAGE_ID);
    QCOMPARE(page->title(), QString());  // set by discovery, not on construction
    QStringList texts;
    for (QLabel* label : page->findChildren<QLabel*>()) {
        texts << label->text();
        QCOMPARE(label->wordWrap(), label->text() != "Drives:");
    }
    texts.sort();
    QCOMPARE(texts, (QStringList{"Drives:", "The Compact Flash drive could not be located.  "
                                            "Please ensure it is connected and try again."}));
    auto* list = page->findChild<QListWidget*>();
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
}

void WizardPagesTest::confirmPage() {
    ZelRecoveryWizard wizard("5.3");
    auto* page = qobject_cast<ZelRecoveryConfirmPage*>(wizard.page(CONFIRM_PAGE_ID));
    QCOMPARE(page->title(), QString("Confirm Drive Selection"));
    QCOMPARE(page->subTitle(),
             QString("Please confirm that you have selected the Compact Flash card correctly."));
    QVERIFY(page->isCommitPage());
    QCOMPARE(page->buttonText(QWizard::CommitButton), QString("Next"));
    compareLabels(page, {
        {"Selected drive:", false, false},
        {"", false, true},
        {"This wizard will format the selected drive and install the Velmor T6 System Processor "
         "software.", true, false},
        {"All exisiting data on the drive will be lost.", true, true},
    });
    QCOMPARE(page->findChildren<QLabel*>().at(1), page->selectedDriveLabel);
}

void WizardPagesTest::installPageStartsEmptyAndShowsReports() {
    ZelRecoveryWizard wizard("5.3");
    auto* page = qobject_cast<ZelRecoveryInstallPage*>(wizard.page(INSTALL_PAGE_ID));
    QCOMPARE(page->title(), QString("Format and Software Installation"));
    QCOMPARE(page->subTitle(), QString("The Compact Flash card is being formatted and the Velmor "
                                       "T6 System Processor software is being installed."));
    QVERIFY(page->isCommitPage());
    QCOMPARE(page->buttonText(QWizard::CommitButton), QString("Next"));
    QCOMPARE(page->driveNumber, -1);
    QCOMPARE(QString(page->drivePath), QString());
    QVERIFY(!page->installFailed && !page->installComplete && !page->isComplete());
    QCOMPARE(page->statusLabel->text(), QString());
    QVERIFY(!page->statusLabel->wordWrap());
    QCOMPARE(page->statusLabel->font().weight(), int(QFont::Normal));
    QCOMPARE(page->progressBar->minimum(), 0);
    QCOMPARE(page->progressBar->maximum(), 100);
    QVERIFY(page->progressBar->isTextVisible());
    QCOMPARE(page->progressBar->text(), QString());  // reset state: no percentage

    StageReport& report = page->stageReport();
    report.show(34, "Writing bootloader...");
    QCOMPARE(page->progressBar->value(), 34);
    QCOMPARE(page->progressBar->text(), QString("34%"));
    QCOMPARE(page->statusLabel->text(), QString("Writing bootloader..."));
    report.showValue(59);
    report.showText("Copying files...");
    QCOMPARE(page->progressBar->value(), 59);
    QCOMPARE(page->statusLabel->text(), QString("Copying files..."));
    QVERIFY(!report.failed());
    report.setFailed();
    report.resetProgress();
    QVERIFY(report.failed() && page->installFailed);
    QCOMPARE(page->progressBar->text(), QString());
    QCOMPARE(page->nextId(), int(INSTALL_ERROR_PAGE_ID));

    // The page's one meta-method is the slot the timer names.
    const QMetaObject* meta = page->metaObject();
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 1);
    QCOMPARE(QByteArray(meta->method(meta->methodOffset()).methodSignature()),
             QByteArray("doInstallation()"));
}

void WizardPagesTest::installPageCleanupClearsDisplay() {
    ZelRecoveryWizard wizard("5.3");
    auto* page = qobject_cast<ZelRecoveryInstallPage*>(wizard.page(INSTALL_PAGE_ID));
    page->driveNumber = 4;
    page->stageReport().show(50, "Formatting data partition...");
    page->cleanupPage();
    QCOMPARE(page->statusLabel->text(), QString());
    QCOMPARE(page->progressBar->text(), QString());
    QCOMPARE(page->driveNumber, 4);
    QCOMPARE(page->nextId(), int(FINISH_PAGE_ID));
}

void WizardPagesTest::finishAndErrorPages() {
    ZelRecoveryWizard wizard("5.3");
    QWizardPage* finish = wizard.page(FINISH_PAGE_ID);
    QCOMPARE(finish->title(), QString("Finished"));
    QCOMPARE(finish->nextId(), -1);
    compareLabels(finish, {
        {"The software has been successfully installed on the Compact Flash card.", true, false},
        {"Please insert the Compact Flash card into your Velmor T6 System Processor and reboot.",
         true, false},
        {"The card was checked by reading it back: it holds the boot loader and every boot "
         "file. You can remove the card now.", true, false},
    });
    QWizardPage* error = wizard.page(INSTALL_ERROR_PAGE_ID);
    QCOMPARE(error->title(), QString("Installation Error"));
    QCOMPARE(error->nextId(), -1);
    compareLabels(error, {
        {"An error was encountered while the Compact Flash card was being formatted.  Please "
         "try again.", true, false},
        {"", true, true},   // the run's cause
        {"", true, false},  // where its support log is
    });
}

void WizardPagesTest::artworkIsCompiledInAtItsSizes() {
    struct Art { const char* path; QSize size; };
    for (const Art& art : {Art{":/zel_recovery_background.png", {200, 320}},
                           Art{":/zel_recovery_banner.png", {500, 60}},
                           Art{":/zel_recovery_logo.png", {128, 60}},
                           Art{":/zel_recovery_watermark.png", {128, 320}}}) {
        const QImage image(art.path);
        QVERIFY2(!image.isNull(), art.path);
        QCOMPARE(image.size(), art.size);
        QVERIFY(image.hasAlphaChannel());
    }
    ZelRecoveryWizard wizard("5.3");
    QCOMPARE(wizard.pixmap(QWizard::BackgroundPixmap).size(), QSize(200, 320));
    QCOMPARE(wizard.pixmap(QWizard::BannerPixmap).size(), QSize(500, 60));
    QCOMPARE(wizard.pixmap(QWizard::LogoPixmap).size(), QSize(128, 60));
    QCOMPARE(watermarkSize(wizard, INTRO_PAGE_ID), QSize(128, 320));
    QCOMPARE(watermarkSize(wizard, FINISH_PAGE_ID), QSize(128, 320));
    QCOMPARE(watermarkSize(wizard, INSTALL_ERROR_PAGE_ID), QSize(128, 320));
    for (int id : {DRIVE_SELECT_PAGE_ID, CONFIRM_PAGE_ID, INSTALL_PAGE_ID})
        QVERIFY(wizard.page(id)->pixmap(QWizard::WatermarkPixmap).isNull());
}

void WizardPagesTest::brokenPageRegistryStopsTheProcess_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("report");
    QTest::newRow("drive selection") << int(DRIVE_SELECT_PAGE_ID) << "Assert: 'driveSelectPage' is FALSE";
    QTest::newRow("confirm") << int(CONFIRM_PAGE_ID) << "Assert: 'confirmPage' is FALSE";
    QTest::newRow("install") << int(INSTALL_PAGE_ID) << "Assert: 'installPage' is FALSE";
}

void WizardPagesTest::brokenPageRegistryStopsTheProcess() {
    QFETCH(int, id);
    QFETCH(QString, report);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEL_BROKEN_PAGE_ID", QString::number(id));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {"-platform", QGuiApplication::platformName()});
    QVERIFY(child.waitForFinished(20000));
    // abort() ends a process by a signal; the Windows runtime ends it with exit code 3.
    if (QSysInfo::kernelType() == "winnt")
        QCOMPARE(child.exitCode(), 3);
    else
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    // The Windows runtime ends lines on the standard streams with CR LF.
    const QString output = QString::fromUtf8(child.readAllStandardError().replace("\r\n", "\n"));
    const QRegularExpression line("^Error " + QRegularExpression::escape(report) +
                                      " at line \\d+ in file \\S*zel_recovery_wizard\\.cpp\n",
                                  QRegularExpression::MultilineOption);
    QVERIFY2(line.match(output).hasMatch(), qPrintable(output));
    QCOMPARE(output.count("Error "), 1);
}

void WizardPagesTest::noSelectionSkipsTheLaterChecks() {
    SimMachine machine;  // no drive: validation reads no selection
    ZelRecoveryWizard wizard("5.3");
    wizard.removePage(CONFIRM_PAGE_ID);
    wizard.setPage(CONFIRM_PAGE_ID, new QWizardPage);
    wizard.show();
    wizard.next();
    QVERIFY(wizard.validateCurrentPage());
}

// The assertion checks run the broken wizard in a child process of this test.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QByteArray brokenId = qgetenv("ZEL_BROKEN_PAGE_ID");
    if (!brokenId.isEmpty()) runBrokenRegistry(brokenId.toInt());
    WizardPagesTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "wizard_pages_test.moc"
