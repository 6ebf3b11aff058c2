#pragma once
// The recovery wizard: its six pages, the window that holds them, and the
// program's entry.

#include "disk/drive_probe.h"
#include "install/installation.h"
#include "install/stage_report.h"

#include <QString>
#include <QWizard>
#include <QElapsedTimer>
#include <QWizardPage>

#include <map>

class QLabel;
class QListWidget;
class QPushButton;
class QProgressBar;
class QStackedWidget;

// Page ids; the wizard starts at the lowest.
enum ZelRecoveryPageId {
    INTRO_PAGE_ID = 0,
    DRIVE_SELECT_PAGE_ID = 1,
    CONFIRM_PAGE_ID = 2,
    INSTALL_PAGE_ID = 3,
    FINISH_PAGE_ID = 4,
    INSTALL_ERROR_PAGE_ID = 5,
};

// Name of the single-instance guard: the wizard's class name.
extern const char* const INSTANCE_GUARD_NAME;

// "Velmor T6 System Processor Recovery Wizard (<version>)": the window title,
// by which a second start also finds the running wizard.
QString wizardWindowTitle(const QString& version);

class ZelRecoveryWizard : public QWizard {
    Q_OBJECT

public:
    explicit ZelRecoveryWizard(const QString& version, QWidget* parent = nullptr);

    // Leaving the drive selection page hands the chosen row's text to the
    // confirm page and its drive number to the install page.
    bool validateCurrentPage() override;
};

class ZelRecoveryIntroPage : public QWizardPage {
    Q_OBJECT

public:
    explicit ZelRecoveryIntroPage(QWidget* parent);
};

class ZelRecoveryDriveSelectPage : public QWizardPage {
    Q_OBJECT

public:
    explicit ZelRecoveryDriveSelectPage(QWidget* parent);

    // Probes the drives afresh and lists the candidates.
    void initializePage() override;
    void cleanupPage() override;
    bool isComplete() const override;
    int nextId() const override;

    // The one selected row's drive number and text, and (when given) the
    // drive as it was listed; false (all left as they were) unless exactly
    // one row is selected.
    bool selectedDrive(int& number, QString& text, DriveDescription* listed = nullptr) const;

protected slots:
    void onDriveSelectionChanged();

private:
    QStackedWidget* pageStack;  // 0: the drive list, 1: nothing found
    QListWidget* driveList;
    std::map<int, int> driveMap;  // list row -> physical drive number
    std::map<int, DriveDescription> listedDrives;  // list row -> the drive as probed
};

class ZelRecoveryConfirmPage : public QWizardPage {
    Q_OBJECT

public:
    explicit ZelRecoveryConfirmPage(QWidget* parent);

    QLabel* selectedDriveLabel;  // the chosen drive's list text
};

// Runs the installation and shows its progress; the stages report to it
// through stageReport().
class ZelRecoveryInstallPage : public QWizardPage {
    Q_OBJECT

public:
    explicit ZelRecoveryInstallPage(QWidget* parent);

    // What doInstallation runs: the card installation unless another is set
    // (not owned; nullptr goes back to the card installation).
    void setInstallation(Installation* installation);
    // The page as the stages see it: bar and label, repainted after each change.
    StageReport& stageReport() { return report_; }

    // Starts the installation from the event loop once the page is shown.
    void initializePage() override;
    void cleanupPage() override;
    bool isComplete() const override;
    int nextId() const override;

    QLabel* statusLabel;
    QProgressBar* progressBar;
    int driveNumber = -1;  // -1: no drive chosen
    DriveDescription listedDrive;  // the chosen drive as it was listed
    char drivePath[DRIVE_PATH_CHARS] = {};
    bool installFailed = false;
    bool installComplete = false;
    RunOutcome outcome;  // of the run, once complete

protected slots:
    void doInstallation();

private:
    class Report final : public StageReport {
    public:
        explicit Report(ZelRecoveryInstallPage& page) : page_(page) {}
        void show(int value, const char* statusText) override;
        void showValue(int value) override;
        void showText(const char* statusText) override;
        void resetProgress() override;
        void keepAlive() override;
        bool waitFor(const std::function<bool()>& call) override;
        void setFailed() override;
        bool failed() const override;

    private:
        // Lets the page repaint after a visible change, holding back user input.
        void pumpEvents();
        ZelRecoveryInstallPage& page_;
        QElapsedTimer sincePump_;
    };

    Report report_{*this};
    CardInstallation cardInstallation_;
    Installation* installation_ = &cardInstallation_;
};

class ZelRecoveryFinishPage : public QWizardPage {
    Q_OBJECT

public:
    explicit ZelRecoveryFinishPage(QWidget* parent);
    // Says that the card was checked only where the run read it back.
    void initializePage() override;
    int nextId() const override;

    QLabel* verifiedLabel;
};

// Under its fixed text, the run's cause and where its support log is, with
// a way to copy the details and to open the log's folder.
class ZelRecoveryInstallErrorPage : public QWizardPage {
    Q_OBJECT

public:
    explicit ZelRecoveryInstallErrorPage(QWidget* parent);
    void initializePage() override;
    int nextId() const override;

    QLabel* causeLabel;
    QLabel* logLabel;
    QPushButton* copyButton;
    QPushButton* openFolderButton;

private slots:
    void copyDetails();
    void openLogFolder();

private:
    QString details_;
    QString folder_;
};

// The program's entry: one running wizard per session, shown until closed.
// Returns the process exit code.
int zelRecoveryMain(int argc, char** argv);
