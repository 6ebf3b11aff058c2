// The program started without root asks pkexec for an elevated copy of
// itself, and ends with the reason when that is refused: it never runs on
// without the rights. pkexec is
// replaced by a script that records how it was asked; the program runs as an
// unprivileged user, so this test needs root to set that up.
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <unistd.h>

namespace {

const int TIMEOUT_MS = 20000;

// A pkexec that writes its working directory and arguments, says `said` on
// stderr, then exits with `code`.
void writeFakePkexec(const TempDir& dir, int code, const std::string& said = std::string()) {
    const std::string script = "#!/bin/sh\npwd > " + dir.file("asked") +
                               "\nfor a in \"$@\"; do echo \"$a\"; done >> " +
                               dir.file("asked") + "\necho '" + said + "' >&2\nexit " +
                               std::to_string(code) + "\n";
    QVERIFY(writeWholeFile(dir.file("pkexec"), script));
    QFile::setPermissions(QString::fromStdString(dir.file("pkexec")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                              QFile::ReadOther | QFile::ExeOther);
}

// Starts the program as user nobody in `dir`, with the fake pkexec first on
// the PATH (`dir` alone: no pkexec at all).
void startUnprivileged(QProcess& process, const TempDir& dir, bool systemPath = true) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QString::fromStdString(dir.path()) +
                                   (systemPath ? ":/usr/bin:/bin" : ""));
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(dir.path()));
    process.start(QStandardPaths::findExecutable("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups",
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
    void refusedElevationEndsWithItsReason_data();
    void refusedElevationEndsWithItsReason();

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

void ElevationTest::refusedElevationEndsWithItsReason_data() {
    QTest::addColumn<int>("code");  // -1: no pkexec on the PATH
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("reason");
    QTest::newRow("dismissed") << 126 << "" << "the request for the password was dismissed.";
    QTest::newRow("no agent")
        << 127 << "Error executing command as another user: No authentication agent found."
        << "no authentication agent is running to ask for the password.";
    // No system bus, so no polkit service that could find an agent.
    QTest::newRow("no polkit service")
        << 127 << "Error getting authority: Error initializing authority: Could not connect: No "
                  "such file or directory"
        << "no authentication agent is running to ask for the password.";
    QTest::newRow("not authorized") << 127
                                    << "Error executing command as another user: Not authorized"
                                    << "the request was refused (not authorized).";
    QTest::newRow("no pkexec") << -1 << "" << "pkexec, which asks for them, is not installed.";
}

void ElevationTest::refusedElevationEndsWithItsReason() {
    QFETCH(int, code);
    QFETCH(QString, said);
    QFETCH(QString, reason);
    if (code >= 0) writeFakePkexec(*dir, code, said.toStdString());
    QProcess program;
    startUnprivileged(program, *dir, code >= 0);
    QVERIFY(program.waitForFinished(TIMEOUT_MS));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(errors.contains(reason) && errors.contains("    sudo zel_recovery_wizard\n"),
             qPrintable(errors));
    // pkexec's own words still reach the terminal.
    QVERIFY2(errors.contains(said), qPrintable(errors));
    // The wizard never came up: it did not listen for later starts.
    QVERIFY(!QFileInfo::exists(QString::fromStdString(dir->file("ZelRecoveryWizard"))));
}

QTEST_MAIN(ElevationTest)
#include "elevation_test.moc"
