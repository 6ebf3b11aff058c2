// One wizard per session: a second start raises the running one and ends,
// across real processes. Each test gets its own runtime directory, so the
// guard never meets a wizard that runs outside the test (where the OS keys
// the guard by the session, the test machine runs no other wizard).
#include "instance_probe.h"
#include "main/raise_requests.h"
#include "release/version.h"
#include "main/zel_recovery_wizard.h"
#include "platform/single_instance.h"
#include "support/temp_dir.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <memory>

namespace {

const int START_TIMEOUT_MS = 20000;

// The program, started with the test's runtime directory, on the test's own
// window platform (offscreen, or the OS's windows where the guard needs them).
void startProgram(QProcess& process, const QString& runtimeDir) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtimeDir);
    process.setProcessEnvironment(environment);
    process.start(ZEL_WIZARD_EXECUTABLE, {"-platform", QGuiApplication::platformName()});
}

QString wizardTitle() {
    return ZelRecoveryWizard(versionString(programVersion, false)).windowTitle();
}

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void secondStartRaisesMinimisedWizardAndEnds();
    void secondStartLeavesOneRunningProgram();
    void guardIsFreedWhenItsHolderEnds();

private:
    std::unique_ptr<TempDir> runtime;
    QString runtimeDir() const { return QString::fromStdString(runtime->path()); }
};

void SingleInstanceTest::init() {
    runtime = std::make_unique<TempDir>();
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toUtf8());
}

void SingleInstanceTest::cleanup() {
    platform::releaseSingleInstance();
    runtime.reset();
}

void SingleInstanceTest::secondStartRaisesMinimisedWizardAndEnds() {
    // This process is the first instance, set up as the program sets itself up.
    QVERIFY(platform::claimSingleInstance(INSTANCE_GUARD_NAME));
    ZelRecoveryWizard wizard(versionString(programVersion, false));
    wizard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wizard));
    platform::acceptRaiseRequests(INSTANCE_GUARD_NAME, [&](const std::string& address) {
        return listenForRaiseRequests(&wizard, QString::fromStdString(address));
    });
    QVERIFY(wizardReachable(runtimeDir(), wizard.windowTitle()));
    wizard.setWindowState(Qt::WindowMinimized);
    QVERIFY(wizard.isMinimized());

    QProcess second;
    startProgram(second, runtimeDir());
    // Events keep flowing meanwhile: restoring a window of another process
    // waits until that process has handled it.
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, START_TIMEOUT_MS);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QTRY_VERIFY(!wizard.isMinimized());
    QVERIFY(wizard.isVisible());
    QTRY_VERIFY(wizard.isActiveWindow());
}

void SingleInstanceTest::secondStartLeavesOneRunningProgram() {
    QProcess first;
    startProgram(first, runtimeDir());
    QVERIFY(first.waitForStarted(START_TIMEOUT_MS));
    QTRY_VERIFY_WITH_TIMEOUT(wizardReachable(runtimeDir(), wizardTitle()), START_TIMEOUT_MS);

    QProcess second;
    startProgram(second, runtimeDir());
    QVERIFY(second.waitForFinished(START_TIMEOUT_MS));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.state(), QProcess::Running);
    // This test process cannot take the guard while the first program holds it.
    QVERIFY(!platform::claimSingleInstance(INSTANCE_GUARD_NAME));

    first.kill();
    QVERIFY(first.waitForFinished(START_TIMEOUT_MS));
}

void SingleInstanceTest::guardIsFreedWhenItsHolderEnds() {
    QProcess first;
    startProgram(first, runtimeDir());
    QTRY_VERIFY_WITH_TIMEOUT(wizardReachable(runtimeDir(), wizardTitle()), START_TIMEOUT_MS);
    first.kill();  // ends without any clean-up of its own
    QVERIFY(first.waitForFinished(START_TIMEOUT_MS));

    // Whatever is left behind (a socket file), the next start is a first instance again.
    const QString leftover = guardLeftover(runtimeDir());
    if (!leftover.isEmpty()) QVERIFY(QFileInfo(leftover).exists());
    QProcess next;
    startProgram(next, runtimeDir());
    QTest::qWait(1500);
    QCOMPARE(next.state(), QProcess::Running);
    next.kill();
    QVERIFY(next.waitForFinished(START_TIMEOUT_MS));
}

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
