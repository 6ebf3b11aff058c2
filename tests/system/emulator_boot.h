#pragma once
// Booting a card image in the PC emulator, for the system tests: the boot
// files that go onto the boot partition, and one emulator run on the serial
// console.

#include <cstdint>
#include <string>

// The line the test firmware (/boot/bzImage) prints on COM1 once it runs.
extern const char* const TEST_FIRMWARE_MARKER;
// The emulator's exit status when the test firmware ends it through the
// debug-exit port.
constexpr int TEST_FIRMWARE_EXIT_STATUS = 67;

// A GRUB menu on the serial console that boots /boot/bzImage at once.
extern const char* const SERIAL_TEST_MENU;

// Puts the package's stage 2 as /boot/grub/stage2, a menu for the serial
// console that boots /boot/bzImage, and the test firmware as /boot/bzImage
// onto the FAT volume starting at sector `partitionStart` of `image`.
// False with the tool output in `log` when a copy fails.
bool putBootFiles(const std::string& image, uint32_t partitionStart, std::string* log);

struct EmulatorRun {
    int status = -1;          // the emulator's exit status (124: timed out and killed)
    std::string console;      // everything the serial console showed
    double seconds = 0;       // wall-clock time of the run
    bool reachedMarker() const;
};

// Boots `image` as the first hard disk of an emulated PC (TCG, no reboot) and
// stops it after `timeoutSeconds` unless the firmware ends it before.
EmulatorRun bootInEmulator(const std::string& image, int timeoutSeconds);
