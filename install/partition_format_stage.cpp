#include "install/partition_format_stage.h"

#include "disk/capacity_probe.h"
#include "disk/partition_table.h"
#include "fat/format_partition.h"
#include "util/debug.h"

namespace {

// The formatter's progress, used only to keep the display alive: the bar
// moves by thirds of the stage, as before.
class KeepAlive final : public ProgressReceiver {
public:
    explicit KeepAlive(StageReport& report) : report_(report) {}
    void begin(uint32_t, uint32_t) override {}
    void update(uint32_t) override { report_.keepAlive(); }
    void end() override {}

private:
    StageReport& report_;
};

}  // namespace

void partitionAndFormat(StageReport& report, platform::Handle disk, uint32_t diskSectors,
                        uint32_t heads, uint32_t sectorsPerTrack, int first, int last) {
    KeepAlive keepAlive(report);
    report.show(first, "Partitioning drive...");
    const RequestDone keepRepainting = [&report](uint32_t) { report.keepAlive(); };
    // A card that does not keep what it is given gets no layout at all.
    if (!probeCapacity(disk, diskSectors, keepRepainting) ||
        !writePartitionTable(disk, diskSectors, heads, sectorsPerTrack, CARD_LAYOUT,
                             keepRepainting)) {
        report.setFailed();
        debugPrint("Failed partitioning disk\n");
        return;
    }

    report.show(first + (last - first) / 3, "Formatting boot partition...");
    if (!formatPartition(disk, diskSectors, heads, sectorsPerTrack, BOOT_PARTITION_INDEX, FAT_TYPE_BY_SIZE,
                         CLUSTER_BYTES_BY_SIZE, "t6sc_boot", &keepAlive)) {
        report.setFailed();
        debugPrint("Failed formatting disk 0\n");
        return;
    }

    report.show(first + 2 * (last - first) / 3, "Formatting data partition...");
    if (!formatPartition(disk, diskSectors, heads, sectorsPerTrack, 1, FAT_TYPE_BY_SIZE,
                         CLUSTER_BYTES_BY_SIZE, "t6sc_data", &keepAlive)) {
        report.setFailed();
        debugPrint("Failed formatting disk 1\n");
        return;
    }

    report.show(last, "Formatting complete");
}
