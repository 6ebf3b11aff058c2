#pragma once
// The real wizard and the real installation on a simulated machine with one
// 4 GB card: a sparse image as drive 1 (255 heads, 63 sectors per track), its
// volume E: as a folder (or the machine a machine file describes, whose
// "card.img" is that image), and a working directory with the boot files and
// the firmware. The session drives the wizard by its buttons and records every
// visible change of the install page.

#include "main/zel_recovery_wizard.h"
#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

constexpr int CARD_DRIVE = 1;
constexpr char CARD_VOLUME = 'E';
constexpr uint64_t CARD_BYTES = 4000000000ull;

// What goes into the working directory.
struct Payload {
    std::string stage2;     // bytes of files/boot/grub/stage2
    std::string menu;       // bytes of files/boot/grub/menu.lst
    std::string firmware;   // bytes of firmware/t6-board.fw
};

// The button is shown and can be pressed.
bool offered(QWizard& wizard, QWizard::WizardButton which);

// One shown state of the install page: "<bar value> <status text>", the bar
// value -1 when the bar shows no progress.
QString shownState(int value, const QString& text);

// The install page's visible changes in a run without failure: one step of
// the boot loader's part of the bar per stage 1.5 sector written.
QStringList successHistory();
// The first `shown` changes of a good run, then the failure ending: the bar
// reset under the last text (no visible change when nothing was shown yet),
// then the error text.
QStringList failedAfter(int shown);
// Position of the first change that shows `text`.
int indexOfText(const QStringList& history, const QString& text);

class WizardSession : public QObject {
    Q_OBJECT

public:
    // With `machineFile`, the machine it describes (platform/sim/machine_file.h),
    // read from a copy in the session's folder: its paths lead there.
    explicit WizardSession(const Payload& payload, const std::string& machineFile = std::string());
    ~WizardSession() override;

    platform::SimPlatform sim;
    std::string image() const { return temp_.file("card.img"); }
    std::string volumeFolder() const { return temp_.file("volE"); }
    std::string workFolder() const { return temp_.file("work"); }
    // A file or folder named in the machine file.
    std::string machineFile(const std::string& name) const { return temp_.file(name); }

    // Shows the wizard; Next, selects the card's row, Next, Next (the commit
    // button), then waits until the installation has ended. Qt Test failures
    // are recorded on the way; check QTest::currentTestFailed() afterwards.
    void runInstallation(int timeoutMs = 60000);
    // Presses the install page's "Next" and returns the page id then shown.
    int leaveInstallPage();

    ZelRecoveryWizard& wizard() { return *wizard_; }
    ZelRecoveryInstallPage& installPage();

    // Every visible change of the install page, in order.
    QStringList history;
    // Called on the confirm page just before its "Next" is pressed.
    std::function<void()> beforeCommit;
    // Called after each recorded change with the status text then shown;
    // tests inject faults at a given point of the run with it.
    std::function<void(const QString&)> onChange;
    // Moments of the run at which Next, Back or Cancel was offered before the end.
    int offeredDuringRun = 0;

    // Nothing of the card is held: no open handle, no drive or volume lock.
    bool nothingHeld() const;

private slots:
    void sample();

private:
    TempDir temp_;
    platform::ScopedPlatform scoped_{sim};
    std::filesystem::path previousDirectory_;
    std::unique_ptr<ZelRecoveryWizard> wizard_;
    QString lastShown_;
};
