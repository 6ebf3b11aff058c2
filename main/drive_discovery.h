#pragma once
// The drive list's view of a probed drive: the text of its row.

#include "disk/drive_probe.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Probes drive `number` (disk/drive_probe.h) and, for a candidate, fills
// `rowText` and, when given, `description`. False, with both untouched, when
// the drive is no candidate.
bool probeDrive(int number, QString* rowText, DriveDescription* description = nullptr);

// Rows that would read the same each get their drive's identity appended
// (" - disk 2 (E:, F:)", " - /dev/sdc (BOOT, DATA)": Platform::driveIdentity),
// so that the technician can tell which card is which. `numbers` are the
// rows' drive numbers.
void distinguishLookAlikes(QStringList& rows, const std::vector<int>& numbers);

// "<vendor> <product> <number> <MB|GB>" with the capacity in decimal megabytes,
// or gigabytes from 1000 MB on, truncated toward zero.
QString driveRowText(const QString& vendor, const QString& product, int64_t diskSize);
