#pragma once
// What the deployment copies onto the boot volume: the boot folder and the
// firmware. Where they are found, whether they are usable, and the room their
// copies take on a FAT volume, each reckoned before the card is touched.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

struct PayloadSources {
    QString bootFolder;
    QString firmware;
    // Where a relative source is looked for, in order, when the working
    // folder does not hold it; empty: nowhere else.
    QStringList folders;
    // Files inside the boot folder that are not copied (a run's own image,
    // lock or log), as canonical paths (QFileInfo::canonicalFilePath).
    QStringList leftOut = {};
};

// A folder the wizard looks for its payload in: as its help names it, and
// where it is on this machine (empty where the environment names none).
struct PayloadFolder {
    QString described;
    QString path;
};

// The one list of the wizard's payload folders, in the order they are
// searched: the working folder, the program's folder (`programFolder`), then
// the folders where the platform installs the program's data.
std::vector<PayloadFolder> wizardPayloadFolders(const QString& programFolder);

// The wizard's sources, "files/boot" and "firmware/t6-board.fw", looked for
// in wizardPayloadFolders(programFolder).
PayloadSources wizardSources(const QString& programFolder);

// A relative source that the working folder does not hold becomes its path
// in the first of `sources.folders` that holds it; every other source stays
// as it is.
void locateSources(PayloadSources& sources);

// The boot folder is a folder and the firmware a regular, readable, non-empty
// file, and between them they hold every required boot file with content
// (payloadHoldsBootFiles). False, with one debug line, when not; a source not
// found names every folder it was looked for in.
bool checkSources(const PayloadSources& sources);

// Each of REQUIRED_BOOT_FILES (deploy/boot_files.h) as the payload gives it
// is a file with content. False with the sentence in `reason` for the first
// that is not: "The boot folder <absolute path> holds no grub/stage2 with
// content; the card would not boot." or "The firmware file <absolute path> is
// empty; the card would not boot."
bool payloadHoldsBootFiles(const PayloadSources& sources, std::string& reason);

// Clusters of `clusterBytes` bytes that the copies take on a FAT volume: each
// copied file rounded up to whole clusters, each folder's entries (its long
// names counted in full) rounded up to whole clusters, the firmware as
// \boot\bzImage in place of any bzImage of the folder. The copier's rules
// hold: names beginning with a dot and hidden entries are left out, and so
// is everything in `leftOut`.
uint64_t payloadClusters(const PayloadSources& sources, uint32_t clusterBytes);
