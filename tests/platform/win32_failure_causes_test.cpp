// The Windows backend passes the system's codes on unchanged: the table of
// failure causes must hold them as <windows.h> defines them.
#include "platform/failure_causes.h"

#include <windows.h>

#include <gtest/gtest.h>

// mingw-w64's winerror.h lacks it; the Windows SDK's defines it so.
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif

using platform::FailureCause;

TEST(Win32FailureCauses, TheSystemsCodesNameTheirCauses) {
    const struct {
        DWORD code;
        FailureCause cause;
    } codes[] = {
        {ERROR_WRITE_PROTECT, FailureCause::WriteProtected},
        {ERROR_NOT_READY, FailureCause::NoCard},
        {ERROR_NO_MEDIA_IN_DRIVE, FailureCause::NoCard},
        {ERROR_FILE_NOT_FOUND, FailureCause::CardRemoved},
        {ERROR_DEV_NOT_EXIST, FailureCause::CardRemoved},
        {ERROR_NO_SUCH_DEVICE, FailureCause::CardRemoved},
        {ERROR_MEDIA_CHANGED, FailureCause::CardRemoved},
        {ERROR_DEVICE_NOT_CONNECTED, FailureCause::CardRemoved},
        {ERROR_SHARING_VIOLATION, FailureCause::DriveHeld},
        {ERROR_LOCK_VIOLATION, FailureCause::VolumeBusy},
        {ERROR_ACCESS_DENIED, FailureCause::NoRights},
        {ERROR_WRITE_FAULT, FailureCause::SectorUnwritable},
        {ERROR_READ_FAULT, FailureCause::SectorUnwritable},
        {ERROR_GEN_FAILURE, FailureCause::SectorUnwritable},
        {ERROR_CRC, FailureCause::SectorUnwritable},
        {ERROR_SECTOR_NOT_FOUND, FailureCause::SectorUnwritable},
        {ERROR_IO_DEVICE, FailureCause::SectorUnwritable},
        {ERROR_ALREADY_EXISTS, FailureCause::AnotherRun},
    };
    size_t tableCodes = 0;
    for (const platform::FailureCauseRow& row : platform::failureCauses())
        tableCodes += row.windowsCodes.size();
    EXPECT_EQ(tableCodes, sizeof codes / sizeof codes[0]);
    for (const auto& c : codes) EXPECT_EQ(platform::causeOfError(c.code), c.cause) << c.code;
}
