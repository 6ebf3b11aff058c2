#pragma once
// The drive list's view of a probed drive: the text of its row.

#include "disk/drive_probe.h"

#include <QString>

#include <cstdint>

// Probes drive `number` (disk/drive_probe.h) and, for a candidate, fills
// `rowText` and, when given, `description`. False, with both untouched, when
// the drive is no candidate.
bool probeDrive(int number, QString* rowText, DriveDescription* description = nullptr);

// "<vendor> <product> <number> <MB|GB>" with the capacity in decimal megabytes,
// or gigabytes from 1000 MB on, truncated toward zero.
QString driveRowText(const QString& vendor, const QString& product, int64_t diskSize);
