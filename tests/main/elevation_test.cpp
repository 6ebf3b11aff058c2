// The program started without root asks pkexec for an elevated copy of
// itself, and runs on without the rights when that is refused. pkexec is
// replaced by a script that records how it was asked; the program runs as an
// unprivileged user, so this test needs root to set that up.
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <unistd.h>

namespace {

const int TIMEOUT_MS = 20000;

// A pkexec that writes its working directory and arguments, then exits with `code`.
void writeFakePkexec(const TempDir& dir, int code) {
    const std::string script = "#!/bin/sh\npwd > " + dir.file("asked") +
                               "\nfor a in \"$@\"; do echo \"$a\"; done >> " +
                               dir.file("asked") + "\nexit " + std::to_string(code) + "\n";
    QVERIFY(writeWholeFile(dir.file("pkexec"), script));
    QFile::setPermissions(QString::fromStdString(dir.file("pkexec")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                              QFile::ReadOther | QFile::ExeOther);
}

// Starts the program as user nobody in `dir`, with the fake pkexec first on the PATH.
void startUnprivileged(QProcess& process, const TempDir& dir) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QString::fromStdString(dir.path()) + ":/usr/bin:/bin");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(dir.path()));
    process.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                              ZEL_WIZARD_EXECUTABLE});
}

QStringList askedLines(const TempDir& dir) {
    return QString::fromStdString(readWholeFile(dir.file("asked"))).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class ElevationTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void elevatedCopyRunsInPlaceOfThisOne();
    void refusedElevationRunsOnWithoutRights();

private:
    std::unique_ptr<TempDir> dir;
};

void ElevationTest::init() {
    if (::geteuid() != 0) QSKIP("needs root to start the program as another user");
    if (!haveProgram("setpriv")) QSKIP("setpriv is not installed");
    dir = std::make_unique<TempDir>();
    QFile::setPermissions(QString::fromStdString(dir->path()),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                              QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
}

void ElevationTest::elevatedCopyRunsInPlaceOfThisOne() {
    writeFakePkexec(*dir, 3);  // the elevated copy's exit code
    QProcess program;
    startUnprivileged(program, *dir);
    QVERIFY(program.waitForFinished(TIMEOUT_MS));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 3);
    const QStringList asked = askedLines(*dir);
    QCOMPARE(asked, (QStringList{QString::fromStdString(dir->path()), "--keep-cwd",
                                 QFileInfo(ZEL_WIZARD_EXECUTABLE).canonicalFilePath()}));
}

void ElevationTest::refusedElevationRunsOnWithoutRights() {
    writeFakePkexec(*dir, 126);  // the user dismissed the dialog
    QProcess program;
    startUnprivileged(program, *dir);
    // It runs on: the wizard comes up and listens for later starts.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QString::fromStdString(dir->file("ZelRecoveryWizard"))),
                             TIMEOUT_MS);
    QCOMPARE(program.state(), QProcess::Running);
    QVERIFY(QString::fromUtf8(program.readAllStandardError())
                .contains("Running without administrator rights"));
    program.kill();
    QVERIFY(program.waitForFinished(TIMEOUT_MS));
}

QTEST_MAIN(ElevationTest)
#include "elevation_test.moc"
