#pragma once
// What is checked before anything of the card is locked or written, so that
// a run that cannot succeed leaves the card as it was.

#include "deploy/file_deployer.h"
#include "install/install_target.h"
#include "install/stage_report.h"

// In this order: the sources of `deployer` (when there is one) are located
// and usable; the target's drive can be opened (tried again as the drive's
// own open is while another program holds it, keeping `report` alive), holds
// removable media (as far as its listing asks), holds media, can take the
// card's layout (install/drive_fit.h) and is still the drive that was listed
// (vendor, product and size); its medium is not write-protected; the payload
// fits the boot volume as the formatter will lay it out on this drive. False
// at the first refusal, with one debug line saying which.
bool installationMayStart(const InstallTarget& target, FileDeployer* deployer,
                          StageReport* report = nullptr);
