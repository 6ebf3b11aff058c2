// Drive discovery on simulated machines: which drives become rows, what the
// rows say, and what is asked of the OS on the way.
#include "main/drive_discovery.h"
#include "main/zel_recovery_wizard.h"
#include "support/sim_machine.h"

#include <QListWidget>
#include <QStackedWidget>
#include <QtTest>

#include <cstring>

namespace {

QStringList listedRows(ZelRecoveryDriveSelectPage& page) {
    QStringList rows;
    auto* list = page.findChild<QListWidget*>();
    for (int row = 0; row < list->count(); ++row) rows << list->item(row)->text();
    return rows;
}

int selectRow(ZelRecoveryDriveSelectPage& page, int row) {
    auto* list = page.findChild<QListWidget*>();
    list->setCurrentRow(row);
    int number = -1;
    QString text;
    return page.selectedDrive(number, text) ? number : -1;
}

}  // namespace

class DriveDiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    void onlyRemovableCardsWithMediaAndSmallSectorsAreListed();
    void rowsMapToDriveNumbersNotRowIndexes();
    void probesExactlyDrivesZeroToFifteenAndClosesEachHandle();
    void asksEachDriveTheFourRequestsWithWindowsBufferSizes();
    void capacityText_data();
    void capacityText();
    void paddedVendorKeepsItsSpaces();
    void descriptorOffsetsOutsideTheBufferGiveEmptyTexts();
    void rediscoveryReplacesEarlierRows();
    void titlesForFoundAndNotFound();
};

void DriveDiscoveryTest::onlyRemovableCardsWithMediaAndSmallSectorsAreListed() {
    SimMachine machine;
    machine.addCard(0, 64000000).removable = false;          // a fixed disk
    machine.addCard(1, 64000000).media = false;              // empty card slot
    machine.addCard(2, 64000000).bytesPerSector = 4096;
    machine.addCard(3, 128450560, "Kestrel", "CF Card");
    machine.addCard(4, 64000000);
    machine.sim.faults().refuseOpenDrive.insert(4);          // open refused
    machine.addCard(5, 64000000).present = false;

    ZelRecoveryDriveSelectPage page(nullptr);
    page.initializePage();
    QCOMPARE(listedRows(page), QStringList{"Kestrel CF Card 128 MB"});
    QCOMPARE(selectRow(page, 0), 3);

    // The same filter as seen by a single probe.
    QString text = "unchanged";
    for (int number : {0, 1, 2, 4, 5, 6}) QVERIFY2(!probeDrive(number, &text), qPrintable(QString::number(number)));
    QCOMPARE(text, QString("unchanged"));
    QVERIFY(machine.sim.debugLines().empty());  // probing failures are silent
}

void DriveDiscoveryTest::rowsMapToDriveNumbersNotRowIndexes() {
    SimMachine machine;
    machine.addCard(2, 1000000000, "Kestrel", "Alpha");
    machine.addCard(7, 2000000000, "Kestrel", "Beta");
    machine.addCard(15, 3000000000, "Kestrel", "Gamma");
    // Two readers of one model: each row says which drive it is.
    machine.addCard(4, 1000000000, "Kestrel", "Alpha");
    machine.sim.addVolume('F', platform::SimVolume{machine.dir.path(), 2});
    machine.sim.addVolume('E', platform::SimVolume{machine.dir.path(), 2});
    machine.sim.addVolume('G', platform::SimVolume{machine.dir.path(), 7});

    ZelRecoveryDriveSelectPage page(nullptr);
    page.initializePage();
    const QStringList rows = {"Kestrel Alpha 1 GB - disk 2 (E:, F:)",
                              "Kestrel Alpha 1 GB - disk 4 (no volumes)", "Kestrel Beta 2 GB",
                              "Kestrel Gamma 3 GB"};
    QCOMPARE(listedRows(page), rows);
    for (int row = 0; row < rows.size(); ++row) {
        auto* list = page.findChild<QListWidget*>();
        list->setCurrentRow(row);
        int number = -1;
        QString text;
        QVERIFY(page.selectedDrive(number, text));
        QCOMPARE(number, (std::vector<int>{2, 4, 7, 15}).at(row));
        QCOMPARE(text, rows[row]);  // what the confirm page repeats
    }

    // Nothing selected: no answer, and the out-parameters stay as they were.
    page.findChild<QListWidget*>()->clearSelection();
    int number = 42;
    QString text = "kept";
    QVERIFY(!page.selectedDrive(number, text));
    QCOMPARE(number, 42);
    QCOMPARE(text, QString("kept"));
}

void DriveDiscoveryTest::probesExactlyDrivesZeroToFifteenAndClosesEachHandle() {
    SimMachine machine;
    machine.addCard(1, 64000000);
    machine.addCard(16, 64000000);  // beyond the probed range
    machine.addCard(20, 64000000);

    ZelRecoveryDriveSelectPage page(nullptr);
    page.initializePage();
    QCOMPARE(listedRows(page).size(), 1);

    QStringList opened;
    for (const platform::SimCall& call : machine.sim.calls()) {
        if (call.name != "CreateFileA") continue;
        opened << QString::fromStdString(call.path);
        QCOMPARE(call.access, platform::GENERIC_READ | platform::GENERIC_WRITE);
        QCOMPARE(call.shareMode, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE);
        QCOMPARE(call.disposition, platform::OPEN_EXISTING);
        QCOMPARE(call.flags, 0u);
    }
    QStringList expected;
    for (int n = 0; n <= 15; ++n) expected << QString("\\\\.\\PhysicalDrive%1").arg(n);
    QCOMPARE(opened, expected);
    QCOMPARE(machine.sim.openHandleCount(), 0);
}

void DriveDiscoveryTest::asksEachDriveTheFourRequestsWithWindowsBufferSizes() {
    SimMachine machine;
    machine.addCard(0, 64000000);
    machine.addCard(1, 64000000).media = false;  // stops after the second request

    QString text;
    QVERIFY(probeDrive(0, &text));
    struct Request { uint32_t code, inSize, outSize; };
    std::vector<Request> asked;
    for (const platform::SimCall& call : machine.sim.calls())
        if (call.name == "DeviceIoControl") asked.push_back({call.code, call.inSize, call.outSize});
    QCOMPARE(asked.size(), size_t(4));
    QCOMPARE(asked[0].code, platform::IOCTL_STORAGE_GET_HOTPLUG_INFO);
    QCOMPARE(asked[0].outSize, 8u);
    QCOMPARE(asked[1].code, platform::IOCTL_STORAGE_CHECK_VERIFY);
    QCOMPARE(asked[1].inSize + asked[1].outSize, 0u);
    QCOMPARE(asked[2].code, platform::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX);
    QCOMPARE(asked[2].outSize, 40u);
    QCOMPARE(asked[3].code, platform::IOCTL_STORAGE_QUERY_PROPERTY);
    QCOMPARE(asked[3].inSize, 12u);
    QCOMPARE(asked[3].outSize, 10000u);

    machine.sim.clearCalls();
    QVERIFY(!probeDrive(1, &text));
    int requests = 0, closes = 0;
    for (const platform::SimCall& call : machine.sim.calls()) {
        requests += call.name == "DeviceIoControl";
        closes += call.name == "CloseHandle";
    }
    QCOMPARE(requests, 2);
    QCOMPARE(closes, 1);  // a skipped drive is closed too
}

void DriveDiscoveryTest::capacityText_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("128 MB") << qint64(128450560) << "V P 128 MB";
    QTest::newRow("exactly 1 GB") << qint64(1000000000) << "V P 1 GB";
    QTest::newRow("just under 1 GB") << qint64(999999999) << "V P 999 MB";
    QTest::newRow("just under 2 GB truncates") << qint64(1999999999) << "V P 1 GB";
    QTest::newRow("4 GB card") << qint64(4009549824) << "V P 4 GB";
    QTest::newRow("under 1 MB") << qint64(999999) << "V P 0 MB";
    QTest::newRow("large card") << qint64(128043712512) << "V P 128 GB";
}

void DriveDiscoveryTest::capacityText() {
    QFETCH(qint64, bytes);
    QFETCH(QString, expected);
    QCOMPARE(driveRowText("V", "P", bytes), expected);
}

void DriveDiscoveryTest::paddedVendorKeepsItsSpaces() {
    SimMachine machine;
    machine.addCard(0, 16013942784, "Kestrel ", "CF Reader  ");
    ZelRecoveryDriveSelectPage page(nullptr);
    page.initializePage();
    QCOMPARE(listedRows(page), QStringList{"Kestrel  CF Reader   16 GB"});
}

void DriveDiscoveryTest::descriptorOffsetsOutsideTheBufferGiveEmptyTexts() {
    SimMachine machine;
    machine.addCard(0, 1000000000).reportVendor = false;               // offset 0
    machine.addCard(1, 1000000000).productOffsetOverride = 10000;      // one past the end
    machine.addCard(2, 1000000000).vendorOffsetOverride = 0xFFFFFFF0u; // far outside
    ZelRecoveryDriveSelectPage page(nullptr);
    page.initializePage();
    QCOMPARE(listedRows(page), (QStringList{" CF Reader 1 GB - disk 0 (no volumes)", "Kestrel  1 GB",
                                            " CF Reader 1 GB - disk 2 (no volumes)"}));

    // A text that runs to the last byte without a terminator stops there.
    unsigned char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    QCOMPARE(descriptorText(buffer, sizeof buffer, 12), std::string("xxxx"));
    QCOMPARE(descriptorText(buffer, sizeof buffer, 15), std::string("x"));
    QCOMPARE(descriptorText(buffer, sizeof buffer, 16), std::string());
    QCOMPARE(descriptorText(buffer, sizeof buffer, 0), std::string());
}

void DriveDiscoveryTest::rediscoveryReplacesEarlierRows() {
    SimMachine machine;
    machine.addCard(3, 64000000, "Kestrel", "Old");
    ZelRecoveryDriveSelectPage page(nullptr);
    page.initializePage();
    QCOMPARE(listedRows(page), QStringList{"Kestrel Old 64 MB"});

    machine.sim.drive(3).media = false;
    machine.addCard(5, 32000000, "Kestrel", "New");
    page.initializePage();
    QCOMPARE(listedRows(page), QStringList{"Kestrel New 32 MB"});
    QCOMPARE(selectRow(page, 0), 5);
}

void DriveDiscoveryTest::titlesForFoundAndNotFound() {
    SimMachine machine;
    ZelRecoveryDriveSelectPage page(nullptr);
    auto* stack = page.findChild<QStackedWidget*>();

    page.initializePage();
    QCOMPARE(page.title(), QString("No Compact Flash Drive"));
    QCOMPARE(page.subTitle(), QString());
    QCOMPARE(stack->currentIndex(), 1);
    QVERIFY(page.isComplete());
    QCOMPARE(page.nextId(), -1);

    machine.addCard(0, 64000000);
    page.initializePage();
    QCOMPARE(page.title(), QString("Select Compact Flash Drive"));
    QCOMPARE(page.subTitle(), QString("Please select the Compact Flash card from the list of drives."));
    QCOMPARE(stack->currentIndex(), 0);
    QVERIFY(!page.isComplete());  // no row is preselected

    // Found nothing after finding something: the subtitle of that visit stays.
    machine.sim.drive(0).present = false;
    page.initializePage();
    QCOMPARE(page.title(), QString("No Compact Flash Drive"));
    QCOMPARE(page.subTitle(), QString("Please select the Compact Flash card from the list of drives."));
    QCOMPARE(stack->currentIndex(), 1);
}

QTEST_MAIN(DriveDiscoveryTest)
#include "drive_discovery_test.moc"
