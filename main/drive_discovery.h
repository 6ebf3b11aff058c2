#pragma once
// Probing one numbered physical drive for a Compact Flash card, and the text
// its row in the drive list shows.

#include <QString>

#include <cstddef>
#include <cstdint>

// Drive numbers probed: "\\.\PhysicalDrive0" to "\\.\PhysicalDrive15".
constexpr int FIRST_PROBED_DRIVE = 0;
constexpr int LAST_PROBED_DRIVE = 15;
// Size of the device descriptor buffer asked for.
constexpr uint32_t DEVICE_DESCRIPTOR_BYTES = 10000;

// Opens drive `number` and keeps it only if it has removable media, media
// present, 512-byte sectors and a device description; then fills `rowText`.
// Every failure is silent: the drive is just not a candidate. Nothing is written.
bool probeDrive(int number, QString* rowText);

// "<vendor> <product> <number> <MB|GB>" with the capacity in decimal megabytes,
// or gigabytes from 1000 MB on, truncated toward zero.
QString driveRowText(const QString& vendor, const QString& product, int64_t diskSize);

// The NUL-terminated text at `offset` in a descriptor buffer. Offset 0 means
// the field is not reported; an offset at or past the end gives an empty text,
// and the text never runs past the buffer.
QString descriptorText(const unsigned char* buffer, std::size_t size, uint32_t offset);
