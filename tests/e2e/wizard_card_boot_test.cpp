// The whole road as a user takes it: the wizard rebuilds a simulated 4 GB card
// with the package's stage 2, a serial-console menu and the test firmware as
// payload. The files it deployed reach the image's boot partition as the
// volume is flushed, and the image is checked with sfdisk and fsck.fat and
// booted in the PC emulator up to the firmware.
#include "system/emulator_boot.h"
#include "wizard_session.h"

#include <QtTest>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {


struct Entry {
    uint32_t start = 0, sectors = 0;
    int type = 0;
};

uint32_t le32(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | uint8_t(bytes[offset + i]);
    return value;
}

std::vector<Entry> mbrEntries(const std::string& image) {
    std::string mbr(512, '\0');
    std::ifstream(image, std::ios::binary).read(&mbr[0], 512);
    std::vector<Entry> entries;
    for (int i = 0; i < 4; ++i) {
        const size_t at = 446 + 16 * i;
        Entry e{le32(mbr, at + 8), le32(mbr, at + 12), uint8_t(mbr[at + 4])};
        if (e.sectors != 0) entries.push_back(e);
    }
    return entries;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// The partition as a file of its own for fsck.fat, which takes no offset;
// holes stay holes.
std::string extract(const std::string& image, const Entry& entry, const std::string& to) {
    const std::string command = "dd if=" + quoted(image) + " of=" + quoted(to) +
        " bs=1M iflag=skip_bytes,count_bytes conv=sparse status=none skip=" +
        std::to_string(uint64_t(entry.start) * 512) +
        " count=" + std::to_string(uint64_t(entry.sectors) * 512);
    std::string output;
    return runCommand(command, &output) == 0 ? std::string() : command + "\n" + output;
}

QStringList lines(const std::string& text) {
    QStringList result;
    for (const QString& line : QString::fromStdString(text).split('\n'))
        if (!line.trimmed().isEmpty()) result << line;
    return result;
}

}  // namespace

class WizardCardBootTest : public QObject {
    Q_OBJECT

private slots:
    void rebuiltCardChecksOutAndBoots();
};

void WizardCardBootTest::rebuiltCardChecksOutAndBoots() {
    const Payload payload{readWholeFile(ZEL_GRUB_STAGE2), SERIAL_TEST_MENU,
                          readWholeFile(ZEL_TEST_FIRMWARE)};
    QVERIFY(!payload.stage2.empty() && !payload.firmware.empty());

    WizardSession session(payload);
    session.runInstallation();
    if (QTest::currentTestFailed()) return;

    QCOMPARE(session.history, successHistory());
    QVERIFY(session.sim.debugLines().empty());
    QVERIFY(session.nothingHeld());
    QCOMPARE(session.offeredDuringRun, 0);
    QCOMPARE(session.leaveInstallPage(), int(FINISH_PAGE_ID));

    const std::string volume = session.volumeFolder();
    QCOMPARE(readWholeFile(volume + "/boot/grub/stage2"), payload.stage2);
    QCOMPARE(readWholeFile(volume + "/boot/grub/menu.lst"), payload.menu);
    QCOMPARE(readWholeFile(volume + "/boot/bzImage"), payload.firmware);

    // The card's partition table as sfdisk reads it: exactly the two entries.
    const std::string image = session.image();
    const std::vector<Entry> entries = mbrEntries(image);
    QCOMPARE(int(entries.size()), 2);
    std::string dump;
    QCOMPARE(runCommand("sfdisk --dump " + quoted(image), &dump), 0);
    QStringList listed;
    for (const QString& line : lines(dump))
        if (line.contains(" : start=")) listed << line.section(" : ", 1).simplified();
    QStringList expected;
    for (const Entry& e : entries)
        expected << QString("start= %1, size= %2, type=%3")
                        .arg(e.start).arg(e.sectors).arg(e.type, 0, 16);
    QCOMPARE(listed, expected);
    QCOMPARE(entries[0].type, 0x06);
    QCOMPARE(entries[1].type, 0x0B);

    // fsck.fat finds nothing but the root label entry, which the formatter
    // pads with zero bytes where fsck.fat wants spaces.
    const char* const labels[] = {"t6sc_boot", "t6sc_data"};
    for (int i = 0; i < 2; ++i) {
        const std::string file = session.workFolder() + "/volume" + std::to_string(i) + ".img";
        const std::string failure = extract(image, entries[i], file);
        QVERIFY2(failure.empty(), failure.c_str());
        std::string report;
        const int status = runCommand("fsck.fat -n " + quoted(file), &report);
        QStringList complaints;
        for (const QString& line : lines(report))
            if (!line.startsWith("fsck.fat ") && !line.contains(" files, ")) complaints << line;
        const QStringList label = {
            QString("Volume label '%1' stored in root directory is not valid.").arg(labels[i]),
            "  Auto-removing label.", "Leaving filesystem unchanged."};
        QVERIFY2(complaints == label, report.c_str());
        QVERIFY2(status == 1, report.c_str());  // the label it would remove counts as an error
        std::remove(file.c_str());
    }

    const EmulatorRun run = bootInEmulator(image, 60);
    qInfo("emulator: status %d after %.1f s\n%s", run.status, run.seconds, run.console.c_str());
    QVERIFY2(run.reachedMarker(), "the firmware did not run within 60 s");
    QCOMPARE(run.status, TEST_FIRMWARE_EXIT_STATUS);
}

QTEST_MAIN(WizardCardBootTest)
#include "wizard_card_boot_test.moc"
