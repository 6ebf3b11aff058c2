#include "system/emulator_boot.h"

#include "support/temp_dir.h"

#include <chrono>

// The same text as the marker in firmware/test_firmware.S.
const char* const TEST_FIRMWARE_MARKER = "ZEL TEST FIRMWARE: booted from the rebuilt card";

// Serial console, short wait, the firmware from the boot partition.
const char* const SERIAL_TEST_MENU =
    "serial --unit=0 --speed=115200\n"
    "terminal serial\n"
    "default 0\n"
    "timeout 1\n"
    "title Test firmware\n"
    "kernel /boot/bzImage\n";

namespace {

std::string quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

bool putBootFiles(const std::string& image, uint32_t partitionStart, std::string* log) {
    const std::string volume =
        quoted(image + "@@" + std::to_string(uint64_t(partitionStart) * 512));
    const std::string menu = image + ".menu.lst";
    if (!writeWholeFile(menu, SERIAL_TEST_MENU)) return false;
    // The volume's geometry fields need not match what mtools would expect of a floppy.
    const std::string tools = "MTOOLS_SKIP_CHECK=1 ";
    const std::string commands[] = {
        tools + ZEL_MMD + " -i " + volume + " ::/boot ::/boot/grub",
        tools + ZEL_MCOPY + " -i " + volume + " " + quoted(ZEL_GRUB_STAGE2) + " ::/boot/grub/stage2",
        tools + ZEL_MCOPY + " -i " + volume + " " + quoted(menu) + " ::/boot/grub/menu.lst",
        tools + ZEL_MCOPY + " -i " + volume + " " + quoted(ZEL_TEST_FIRMWARE) + " ::/boot/bzImage",
    };
    for (const std::string& command : commands) {
        std::string output;
        if (runCommand(command, &output) != 0) {
            if (log != nullptr) *log = command + "\n" + output;
            return false;
        }
    }
    return true;
}

bool EmulatorRun::reachedMarker() const {
    return console.find(TEST_FIRMWARE_MARKER) != std::string::npos;
}

EmulatorRun bootInEmulator(const std::string& image, int timeoutSeconds) {
    // timeout ends a run that never reaches the firmware; -k makes sure it ends.
    const std::string command = "timeout -k 5 " + std::to_string(timeoutSeconds) + " " +
                                ZEL_QEMU + " -drive file=" + quoted(image) +
                                ",format=raw -nographic -serial mon:stdio -no-reboot"
                                " -device isa-debug-exit,iobase=0xf4,iosize=0x04 </dev/null";
    EmulatorRun run;
    const auto start = std::chrono::steady_clock::now();
    run.status = runCommand(command, &run.console);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}
