#pragma once
// Puts the boot folder and the firmware onto the boot volume of a card image
// file, as the deployment puts them onto the mounted boot partition.

#include <cstdint>
#include <ostream>
#include <string>

// Copies `bootFolder` to \boot and `firmware` to \boot\bzImage of the FAT
// volume that starts at sector `partitionStart` of `imagePath`. The files are
// gathered with the deployment's own copier (same rules: entries whose name
// starts with a dot stay behind), then written into the image with mtools'
// mcopy, which needs neither root nor a FAT driver. Reasons for a failure go
// to `err`.
bool copyBootFilesIntoImage(const std::string& imagePath, uint32_t partitionStart,
                            const std::string& bootFolder, const std::string& firmware,
                            std::ostream& err);

// True when mcopy can be started.
bool haveMcopy();
