#pragma once
// What the deployment copies onto the boot volume: the boot folder and the
// firmware. Where they are found, whether they are usable, and the room their
// copies take on a FAT volume, each reckoned before the card is touched.

#include <QString>
#include <QStringList>

#include <cstdint>

struct PayloadSources {
    QString bootFolder;
    QString firmware;
    // Where a relative source is looked for when the working folder does not
    // hold it (the program's own folder); empty: nowhere else.
    QString programFolder;
    // Files inside the boot folder that are not copied (a run's own image,
    // lock or log), as canonical paths (QFileInfo::canonicalFilePath).
    QStringList leftOut = {};
};

// The wizard's sources, "files/boot" and "firmware/t6-board.fw", looked for
// in the working folder and then in `programFolder`.
PayloadSources wizardSources(const QString& programFolder);

// A relative source that the working folder does not hold but the program's
// folder does becomes that path; every other source stays as it is.
void locateSources(PayloadSources& sources);

// The boot folder is a folder and the firmware a regular, readable, non-empty
// file. False, with one debug line naming the source, when not.
bool checkSources(const PayloadSources& sources);

// Clusters of `clusterBytes` bytes that the copies take on a FAT volume: each
// copied file rounded up to whole clusters, each folder's entries (its long
// names counted in full) rounded up to whole clusters, the firmware as
// \boot\bzImage in place of any bzImage of the folder. The copier's rules
// hold: names beginning with a dot and hidden entries are left out, and so
// is everything in `leftOut`.
uint64_t payloadClusters(const PayloadSources& sources, uint32_t clusterBytes);
