#pragma once
// Measures how long the event loop went without a turn while the wizard's
// installation ran: a zero-delay timer fires at every turn, and the longest
// gap between two firings is the longest time the window could not repaint.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class ZelRecoveryWizard;

class PauseMeter : public QObject {
    Q_OBJECT

public:
    // Measures from the moment the wizard shows its install page until the
    // installation has ended.
    explicit PauseMeter(ZelRecoveryWizard& wizard);

    // Longest gap between turns, in milliseconds; -1 before any installation.
    qint64 longestMs() const { return longest_; }

private slots:
    void onPageChanged(int id);
    void onInstallationDone();
    void onTurn();

private:
    ZelRecoveryWizard& wizard_;
    QTimer turns_;
    QElapsedTimer sinceTurn_;
    qint64 longest_ = -1;
};
