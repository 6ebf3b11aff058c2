#include "demo/pause_meter.h"

#include "main/zel_recovery_wizard.h"

#include <algorithm>

PauseMeter::PauseMeter(ZelRecoveryWizard& wizard) : wizard_(wizard) {
    turns_.setInterval(0);
    connect(&turns_, &QTimer::timeout, this, &PauseMeter::onTurn);
    connect(&wizard_, &QWizard::currentIdChanged, this, &PauseMeter::onPageChanged);
    connect(wizard_.page(INSTALL_PAGE_ID), &QWizardPage::completeChanged, this,
            &PauseMeter::onInstallationDone);
}

void PauseMeter::onPageChanged(int id) {
    if (id != INSTALL_PAGE_ID || turns_.isActive()) return;
    longest_ = 0;
    sinceTurn_.start();
    turns_.start();
}

void PauseMeter::onInstallationDone() {
    if (!turns_.isActive()) return;
    onTurn();
    turns_.stop();
}

void PauseMeter::onTurn() {
    longest_ = std::max(longest_, sinceTurn_.restart());
}
