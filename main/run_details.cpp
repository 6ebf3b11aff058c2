#include "main/run_details.h"

#include "release/version.h"

#include <QFileInfo>

QString logPlaceText(const RunLogPlace& log) {
    const QString path = QString::fromStdString(log.path);
    const QString problem = QString::fromStdString(log.problem);
    if (problem.isEmpty()) return QObject::tr("Support log: %1").arg(path);
    if (path.isEmpty()) return QObject::tr("Support log: not written, %1.").arg(problem);
    return QObject::tr("Support log: %1 (not written: %2)").arg(path, problem);
}

QString runDetailsText(const RunOutcome& outcome, const RunLogPlace& log) {
    QString text = QString::fromStdString(outcome.cause) + "\n";
    text += "zel_recovery_wizard " + QString::fromStdString(versionText(programVersion)) + "\n";
    text += logPlaceText(log) + "\n\n";
    for (const std::string& line : outcome.debugLines) text += QString::fromStdString(line);
    return text;
}

QString logFolder(const RunLogPlace& log) {
    if (log.path.empty()) return QString();
    const QFileInfo place(QString::fromStdString(log.path));
    if (place.isDir()) return place.absoluteFilePath();
    const QFileInfo folder(place.absolutePath());
    return folder.isDir() ? folder.absoluteFilePath() : QString();
}
