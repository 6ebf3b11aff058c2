#include "main/zel_recovery_wizard.h"

#include "main/drive_discovery.h"
#include "main/raise_requests.h"
#include "main/run_details.h"
#include "main/run_input_guard.h"
#include "release/run_log.h"
#include "release/version.h"
#include "main/wizard_help.h"
#include "main/elevation_refusal.h"
#include "platform/single_instance.h"
#include "util/debug.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <future>

const char* const INSTANCE_GUARD_NAME = "ZelRecoveryWizard";

namespace {

const char* const BACKGROUND_RESOURCE = ":/zel_recovery_background.png";
const char* const BANNER_RESOURCE = ":/zel_recovery_banner.png";
const char* const LOGO_RESOURCE = ":/zel_recovery_logo.png";
const char* const WATERMARK_RESOURCE = ":/zel_recovery_watermark.png";

// Often enough that the window never looks frozen (it repaints at least every
// 100 ms while the installation runs), rarely enough to cost nothing.
constexpr qint64 PUMP_INTERVAL_MS = 20;

QLabel* wrappedLabel(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

// Only the weight of the label's own font changes.
QLabel* makeBold(QLabel* label) {
    QFont font = label->font();
    font.setWeight(QFont::Bold);
    label->setFont(font);
    return label;
}

void setWatermark(QWizardPage* page) {
    page->setPixmap(QWizard::WatermarkPixmap, QPixmap(WATERMARK_RESOURCE));
}

}  // namespace

QString wizardWindowTitle(const QString& version) {
    return ZelRecoveryWizard::tr("Velmor T6 System Processor Recovery Wizard (%1)").arg(version);
}

// ---------------------------------------------------------------- wizard

ZelRecoveryWizard::ZelRecoveryWizard(const QString& version, QWidget* parent)
    : QWizard(parent) {
    setWindowTitle(wizardWindowTitle(version));

    setPage(INTRO_PAGE_ID, new ZelRecoveryIntroPage(this));
    setPage(DRIVE_SELECT_PAGE_ID, new ZelRecoveryDriveSelectPage(this));
    setPage(CONFIRM_PAGE_ID, new ZelRecoveryConfirmPage(this));
    setPage(INSTALL_PAGE_ID, new ZelRecoveryInstallPage(this));
    setPage(FINISH_PAGE_ID, new ZelRecoveryFinishPage(this));
    setPage(INSTALL_ERROR_PAGE_ID, new ZelRecoveryInstallErrorPage(this));

    setPixmap(QWizard::BackgroundPixmap, QPixmap(BACKGROUND_RESOURCE));
    setPixmap(QWizard::BannerPixmap, QPixmap(BANNER_RESOURCE));
    setPixmap(QWizard::LogoPixmap, QPixmap(LOGO_RESOURCE));
}

bool ZelRecoveryWizard::validateCurrentPage() {
    if (currentId() == DRIVE_SELECT_PAGE_ID) {
        ZelRecoveryDriveSelectPage* driveSelectPage =
            qobject_cast<ZelRecoveryDriveSelectPage*>(page(DRIVE_SELECT_PAGE_ID));
        ASSERT(driveSelectPage);

        int number = -1;
        QString text;
        DriveDescription listed;
        if (driveSelectPage->selectedDrive(number, text, &listed)) {
            ZelRecoveryConfirmPage* confirmPage =
                qobject_cast<ZelRecoveryConfirmPage*>(page(CONFIRM_PAGE_ID));
            ASSERT(confirmPage);
            confirmPage->selectedDriveLabel->setText(text);

            ZelRecoveryInstallPage* installPage =
                qobject_cast<ZelRecoveryInstallPage*>(page(INSTALL_PAGE_ID));
            ASSERT(installPage);
            installPage->driveNumber = number;
            setRunLogDrive(numberToString(number) + ": " + text.toStdString());
            installPage->listedDrive = listed;
        }
    }
    return QWizard::validateCurrentPage();
}

// ---------------------------------------------------------------- introduction

ZelRecoveryIntroPage::ZelRecoveryIntroPage(QWidget* parent) : QWizardPage(parent) {
    setTitle(tr("Introduction"));
    setWatermark(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wrappedLabel(
        this, tr("This wizard will guide you through the process of restoring the Compact Flash "
                 "(CF) card for your Velmor T6 System Processor.")));
    layout->addWidget(wrappedLabel(
        this, tr("You will be required to insert the CF card from the T6 System Processor into a "
                 "CF card reader on this computer. Once the card is connected you must correctly "
                 "identify its drive.")));
    layout->addWidget(makeBold(wrappedLabel(
        this, tr("Incorrectly identifying the drive may result in unwanted data loss and may "
                 "prevent your computer starting normally."))));
    layout->addStretch(0);
}

// ---------------------------------------------------------------- drive selection

ZelRecoveryDriveSelectPage::ZelRecoveryDriveSelectPage(QWidget* parent) : QWizardPage(parent) {
    pageStack = new QStackedWidget(this);

    auto* listPanel = new QWidget;
    auto* listLayout = new QVBoxLayout(listPanel);
    listLayout->addWidget(new QLabel(tr("Drives:"), listPanel));
    driveList = new QListWidget(listPanel);
    listLayout->addWidget(driveList);
    listLayout->addStretch(0);

    auto* notFoundPanel = new QWidget;
    auto* notFoundLayout = new QVBoxLayout(notFoundPanel);
    notFoundLayout->addWidget(wrappedLabel(
        notFoundPanel, tr("The Compact Flash drive could not be located.  Please ensure it is "
                          "connected and try again.")));
    notFoundLayout->addStretch(0);

    pageStack->addWidget(listPanel);
    pageStack->addWidget(notFoundPanel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pageStack);

    driveList->setSelectionBehavior(QAbstractItemView::SelectRows);
    driveList->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(driveList, SIGNAL(itemSelectionChanged()), this, SLOT(onDriveSelectionChanged()));
}

void ZelRecoveryDriveSelectPage::initializePage() {
    driveMap.clear();
    listedDrives.clear();
    driveList->clear();

    QStringList rows;
    std::vector<int> numbers;
    for (int number = FIRST_PROBED_DRIVE; number <= LAST_PROBED_DRIVE; ++number) {
        QString rowText;
        DriveDescription description;
        if (!probeDrive(number, &rowText, &description)) continue;
        rows << rowText;
        numbers.push_back(number);
        listedDrives.insert({rows.size() - 1, description});
    }
    distinguishLookAlikes(rows, numbers);
    for (int row = 0; row < rows.size(); ++row) {
        driveList->insertItem(row, rows[row]);
        driveMap.insert({row, numbers[row]});
    }

    if (!driveMap.empty()) {
        setTitle(tr("Select Compact Flash Drive"));
        setSubTitle(tr("Please select the Compact Flash card from the list of drives."));
        pageStack->setCurrentIndex(0);
    } else {
        // The subtitle stays as it was: empty, or the text of an earlier visit.
        setTitle(tr("No Compact Flash Drive"));
        pageStack->setCurrentIndex(1);
    }
}

void ZelRecoveryDriveSelectPage::cleanupPage() {
    driveMap.clear();
    listedDrives.clear();
    driveList->clear();
}

bool ZelRecoveryDriveSelectPage::isComplete() const {
    if (driveMap.empty()) return true;
    return driveList->selectedItems().count() == 1;
}

int ZelRecoveryDriveSelectPage::nextId() const {
    if (driveMap.empty()) return -1;
    return QWizardPage::nextId();
}

bool ZelRecoveryDriveSelectPage::selectedDrive(int& number, QString& text,
                                               DriveDescription* listed) const {
    const QList<QListWidgetItem*> selected = driveList->selectedItems();
    if (selected.count() != 1) return false;
    text = selected.first()->text();

    // In a single-selection list the current row is the selected one.
    const auto iMap = driveMap.find(driveList->currentRow());
    ASSERT(iMap != driveMap.end());
    number = iMap->second;
    if (listed != nullptr) *listed = listedDrives.at(iMap->first);
    return true;
}

void ZelRecoveryDriveSelectPage::onDriveSelectionChanged() {
    emit completeChanged();
}

// ---------------------------------------------------------------- confirm

ZelRecoveryConfirmPage::ZelRecoveryConfirmPage(QWidget* parent) : QWizardPage(parent) {
    setTitle(tr("Confirm Drive Selection"));
    setSubTitle(tr("Please confirm that you have selected the Compact Flash card correctly."));
    setCommitPage(true);
    setButtonText(QWizard::CommitButton, tr("Next"));

    auto* layout = new QVBoxLayout(this);
    auto* selectionRow = new QHBoxLayout;  // owned by `layout` once added
    selectionRow->addWidget(new QLabel(tr("Selected drive:"), this));
    selectedDriveLabel = makeBold(new QLabel(this));
    selectionRow->addWidget(selectedDriveLabel);
    selectionRow->addStretch(0);
    layout->addLayout(selectionRow);
    layout->addWidget(wrappedLabel(
        this, tr("This wizard will format the selected drive and install the Velmor T6 System "
                 "Processor software.")));
    layout->addWidget(makeBold(wrappedLabel(this, tr("All exisiting data on the drive will be lost."))));
    layout->addStretch(0);
}

// ---------------------------------------------------------------- install

ZelRecoveryInstallPage::ZelRecoveryInstallPage(QWidget* parent) : QWizardPage(parent) {
    setTitle(tr("Format and Software Installation"));
    setSubTitle(tr("The Compact Flash card is being formatted and the Velmor T6 System Processor "
                   "software is being installed."));
    setCommitPage(true);
    setButtonText(QWizard::CommitButton, tr("Next"));

    statusLabel = new QLabel(this);
    progressBar = new QProgressBar(this);
    progressBar->setRange(0, 100);  // no value yet: the bar shows no progress
    progressBar->setTextVisible(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(statusLabel);
    layout->addWidget(progressBar);
    layout->addStretch(0);
}

void ZelRecoveryInstallPage::initializePage() {
    // From the event loop, so that the page is already shown when the long,
    // synchronous installation begins. Cancel is off from now until it ends.
    if (driveNumber == -1) return;
    wizard()->button(QWizard::CancelButton)->setEnabled(false);
    QTimer::singleShot(0, this, SLOT(doInstallation()));
}

void ZelRecoveryInstallPage::cleanupPage() {
    statusLabel->clear();
    progressBar->reset();
}

bool ZelRecoveryInstallPage::isComplete() const {
    return installComplete;
}

int ZelRecoveryInstallPage::nextId() const {
    if (installFailed) return INSTALL_ERROR_PAGE_ID;
    return QWizardPage::nextId();
}

void ZelRecoveryInstallPage::setInstallation(Installation* installation) {
    installation_ = installation != nullptr ? installation : &cardInstallation_;
}

void ZelRecoveryInstallPage::doInstallation() {
    // The run cannot be stopped safely: Cancel is off meanwhile, and what the
    // user does in the window is dropped, so nothing acts after the run.
    {
        const RunInputGuard guard(wizard());
        outcome = installation_->run(report_, driveNumber, listedDrive, drivePath);
    }
    wizard()->button(QWizard::CancelButton)->setEnabled(true);
    installComplete = true;
    emit completeChanged();
}

void ZelRecoveryInstallPage::Report::show(int value, const char* statusText) {
    page_.progressBar->setValue(value);
    page_.statusLabel->setText(ZelRecoveryInstallPage::tr(statusText));
    pumpEvents();
}

void ZelRecoveryInstallPage::Report::showValue(int value) {
    page_.progressBar->setValue(value);
    pumpEvents();
}

void ZelRecoveryInstallPage::Report::showText(const char* statusText) {
    page_.statusLabel->setText(ZelRecoveryInstallPage::tr(statusText));
    pumpEvents();
}

void ZelRecoveryInstallPage::Report::resetProgress() {
    page_.progressBar->reset();
    pumpEvents();
}

void ZelRecoveryInstallPage::Report::keepAlive() {
    if (!sincePump_.isValid() || sincePump_.elapsed() >= PUMP_INTERVAL_MS) pumpEvents();
}

bool ZelRecoveryInstallPage::Report::waitFor(const std::function<bool()>& call) {
    // The call runs on a thread of its own while this one keeps the window
    // painted; the run waits for it, so nothing else calls the OS meanwhile.
    std::future<bool> result = std::async(std::launch::async, call);
    while (result.wait_for(std::chrono::milliseconds(PUMP_INTERVAL_MS)) != std::future_status::ready)
        pumpEvents();
    return result.get();
}

void ZelRecoveryInstallPage::Report::setFailed() {
    page_.installFailed = true;
}

bool ZelRecoveryInstallPage::Report::failed() const {
    return page_.installFailed;
}

void ZelRecoveryInstallPage::Report::pumpEvents() {
    // User input comes through to the run's guard, which drops it: held back,
    // it would act once the run has ended.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    sincePump_.restart();
}

// ---------------------------------------------------------------- finish

ZelRecoveryFinishPage::ZelRecoveryFinishPage(QWidget* parent) : QWizardPage(parent) {
    setTitle(tr("Finished"));
    setWatermark(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wrappedLabel(
        this, tr("The software has been successfully installed on the Compact Flash card.")));
    layout->addWidget(wrappedLabel(
        this, tr("Please insert the Compact Flash card into your Velmor T6 System Processor and "
                 "reboot.")));
    verifiedLabel = wrappedLabel(
        this, tr("The card was checked by reading it back: it holds the boot loader and every "
                 "boot file. You can remove the card now."));
    verifiedLabel->setVisible(false);
    layout->addWidget(verifiedLabel);
    layout->addStretch(0);
}

void ZelRecoveryFinishPage::initializePage() {
    const auto* install = qobject_cast<ZelRecoveryInstallPage*>(wizard()->page(INSTALL_PAGE_ID));
    verifiedLabel->setVisible(install != nullptr && install->outcome.verifiedFromCard);
}

int ZelRecoveryFinishPage::nextId() const {
    return -1;
}

// ---------------------------------------------------------------- install error

ZelRecoveryInstallErrorPage::ZelRecoveryInstallErrorPage(QWidget* parent) : QWizardPage(parent) {
    setTitle(tr("Installation Error"));
    setWatermark(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wrappedLabel(
        this, tr("An error was encountered while the Compact Flash card was being formatted.  "
                 "Please try again.")));
    causeLabel = makeBold(wrappedLabel(this, QString()));
    causeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(causeLabel);
    logLabel = wrappedLabel(this, QString());
    logLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(logLabel);
    auto* buttonRow = new QHBoxLayout;  // owned by `layout` once added
    copyButton = new QPushButton(tr("Copy details"), this);
    openFolderButton = new QPushButton(tr("Open log folder"), this);
    buttonRow->addWidget(copyButton);
    buttonRow->addWidget(openFolderButton);
    buttonRow->addStretch(0);
    layout->addLayout(buttonRow);
    layout->addStretch(0);
    connect(copyButton, &QPushButton::clicked, this, &ZelRecoveryInstallErrorPage::copyDetails);
    connect(openFolderButton, &QPushButton::clicked, this,
            &ZelRecoveryInstallErrorPage::openLogFolder);
}

void ZelRecoveryInstallErrorPage::initializePage() {
    const auto* install = qobject_cast<ZelRecoveryInstallPage*>(wizard()->page(INSTALL_PAGE_ID));
    const RunOutcome outcome = install != nullptr ? install->outcome : RunOutcome();
    const RunLogPlace log = runLogPlace();
    causeLabel->setText(QString::fromStdString(outcome.cause));
    logLabel->setText(logPlaceText(log));
    details_ = runDetailsText(outcome, log);
    folder_ = logFolder(log);
    openFolderButton->setEnabled(!folder_.isEmpty());
}

void ZelRecoveryInstallErrorPage::copyDetails() {
    QGuiApplication::clipboard()->setText(details_);
}

void ZelRecoveryInstallErrorPage::openLogFolder() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder_));
}

int ZelRecoveryInstallErrorPage::nextId() const {
    return -1;
}

// ---------------------------------------------------------------- entry

namespace {

// A later start: bring the running wizard forward and end.
int raiseRunningWizard(const QString& title) {
    platform::raiseRunningInstance(INSTANCE_GUARD_NAME, title.toStdU16String());
    return 0;
}

}  // namespace

int zelRecoveryMain(int argc, char** argv) {
    const int answered = answerInfoOption(argc, argv);
    if (answered >= 0) return answered;
    const QString title = wizardWindowTitle(versionString(programVersion, false));
    if (!platform::claimSingleInstance(INSTANCE_GUARD_NAME)) return raiseRunningWizard(title);

    if (platform::needsElevation()) {
        // The elevated copy takes the guard over; this one only waits for it.
        platform::releaseSingleInstance();
        int exitCode = 0;
        const platform::Elevation how = platform::runElevatedCopy(argc, argv, &exitCode);
        if (how == platform::Elevation::Ran) return exitCode;
        return refuseUnelevatedStart(how, title, argc, argv);
    }
    // Only the process that shows the wizard keeps a log.
    startRunLog("zel_recovery_wizard", std::string(), NO_DRIVE_CHOSEN);

    QApplication application(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(true);
    int result = 0;
    {
        ZelRecoveryWizard wizard(versionString(programVersion, false));
        wizard.show();
        platform::acceptRaiseRequests(INSTANCE_GUARD_NAME, [&wizard](const std::string& address) {
            return listenForRaiseRequests(&wizard, QString::fromStdString(address));
        });
        result = application.exec();
    }
    stopRunLog();
    return result;
}
