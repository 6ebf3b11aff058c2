// The version record's text in both forms.
#include "release/version.h"
#include "main/zel_recovery_wizard.h"

#include <QtTest>

class VersionTest : public QObject {
    Q_OBJECT

private slots:
    void versionText_data();
    void versionText();
    void programVersionIsFiveThree();
    void numbersAreDecimalDigits();
};

void VersionTest::versionText_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<int>("releaseTag");
    QTest::addColumn<QString>("shortForm");
    QTest::addColumn<QString>("fullForm");
    // The Debian package's version and the Windows version resource's
    // numbers: a candidate, beta or debug build sorts below its final release.
    QTest::addColumn<QString>("debian");
    QTest::addColumn<QString>("windows");
    QTest::newRow("final") << 5 << 3 << 0 << 0x00 << "5.3" << "5.3.0" << "5.3.0" << "5,3,0,300";
    QTest::newRow("patch") << 5 << 3 << 1 << 0x00 << "5.3.1" << "5.3.1" << "5.3.1" << "5,3,1,300";
    QTest::newRow("release candidate") << 5 << 3 << 0 << 0x42 << "5.3 RC2" << "5.3.0.RC2"
                                       << "5.3.0~rc2" << "5,3,0,202";
    QTest::newRow("beta 0") << 1 << 0 << 0 << 0x80 << "1.0 BETA0" << "1.0.0.BETA0"
                            << "1.0.0~beta0" << "1,0,0,100";
    QTest::newRow("debug with patch") << 2 << 1 << 7 << 0xC5 << "2.1.7 DEBUG5" << "2.1.7.DEBUG5"
                                      << "2.1.7~debug5" << "2,1,7,5";
    QTest::newRow("number without kind") << 5 << 3 << 0 << 0x3F << "5.3" << "5.3.0" << "5.3.0"
                                         << "5,3,0,300";
    QTest::newRow("many digits") << 12 << 0 << 255 << 0x00 << "12.0.255" << "12.0.255"
                                 << "12.0.255" << "12,0,255,300";
    QTest::newRow("largest") << 255 << 255 << 255 << 0xFF << "255.255.255 DEBUG63"
                             << "255.255.255.DEBUG63" << "255.255.255~debug63"
                             << "255,255,255,63";
}

void VersionTest::versionText() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(int, releaseTag);
    QFETCH(QString, shortForm);
    QFETCH(QString, fullForm);
    QFETCH(QString, debian);
    QFETCH(QString, windows);
    const ProgramVersion version = {uint8_t(major), uint8_t(minor), uint8_t(patch),
                                    uint8_t(releaseTag)};
    QCOMPARE(versionString(version, false), shortForm);
    QCOMPARE(versionString(version, true), fullForm);
    QCOMPARE(QString::fromStdString(::versionText(version)), fullForm);
#ifdef ZEL_CMAKE_COMMAND
    // The build's script: the same full form, then the packages' forms.
    QProcess script;
    script.start(ZEL_CMAKE_COMMAND, {QString("-DZEL_VERSION=%1,%2,%3,%4")
                                         .arg(major).arg(minor).arg(patch).arg(releaseTag),
                                     "-P", ZEL_VERSION_FORMS});
    QVERIFY(script.waitForFinished(30000));
    QCOMPARE(script.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(script.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
             (QStringList{fullForm, debian, windows}));
#endif
}

void VersionTest::programVersionIsFiveThree() {
    QCOMPARE(versionString(programVersion, false), QString("5.3"));
    QCOMPARE(wizardWindowTitle(versionString(programVersion, false)),
             QString("Velmor T6 System Processor Recovery Wizard (5.3)"));
}

void VersionTest::numbersAreDecimalDigits() {
    QCOMPARE(numberToString(static_cast<unsigned>(uint8_t(5))), std::string("5"));
    QCOMPARE(numberToString(0), std::string("0"));
    QCOMPARE(numberToString(100000), std::string("100000"));  // no grouping
    QCOMPARE(numberToString(63), std::string("63"));
}

QTEST_APPLESS_MAIN(VersionTest)
#include "version_test.moc"
