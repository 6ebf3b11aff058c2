#pragma once
// The last fault the drive gave during a run (a refused open, a failed
// transfer or flush), kept so that a failed run can name its cause once it
// has ended. One run at a time; forget() before it starts.

#include <cstdint>

struct DriveFault {
    enum Where { NONE, OPEN, SECTOR, FLUSH };
    Where where = NONE;
    uint32_t code = 0;  // the OS error; 0 for a sector that read back wrong
    uint32_t lba = 0;   // SECTOR: the sector concerned
};

void noteDriveFault(const DriveFault& fault);
DriveFault lastDriveFault();
void forgetDriveFault();
