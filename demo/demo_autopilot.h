#pragma once
// Clicks through the wizard on its own, pausing on each page so that a viewer
// can follow, and saves a picture of every page it shows (none when the
// picture folder is empty).

#include <QObject>
#include <QString>

#include <functional>

class ZelRecoveryWizard;

class DemoAutopilot : public QObject {
    Q_OBJECT

public:
    // `beforeInstall` runs on the confirm page, just before its "Next".
    DemoAutopilot(ZelRecoveryWizard& wizard, const QString& pictureFolder,
                  std::function<void()> beforeInstall);
    // Picks the row of drive `number` instead of the first row; with no such
    // row it closes the wizard.
    void pickDrive(int number) { drive_ = number; }
    void start();

private slots:
    void step();
    void onProgress(int value);

private:
    void save(const QString& name);
    void press(int button);
    void later();
    void selectRow();

    ZelRecoveryWizard& wizard_;
    QString pictureFolder_;
    std::function<void()> beforeInstall_;
    int drive_ = -1;  // -1: the first row
    int stage_ = 0;
    bool runningSaved_ = false;
};
