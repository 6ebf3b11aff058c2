#include "instance_probe.h"

#include <QFileInfo>

namespace {
QString address(const QString& runtimeDir) { return runtimeDir + "/ZelRecoveryWizard"; }
}  // namespace

bool wizardReachable(const QString& runtimeDir, const QString&) {
    return QFileInfo::exists(address(runtimeDir));
}

QString guardLeftover(const QString& runtimeDir) { return address(runtimeDir); }
