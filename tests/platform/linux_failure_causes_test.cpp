// The Linux backend reports through the table of failure causes: each errno
// of a row is Linux's own number and maps to a Windows code of that row.
#include "platform/failure_causes.h"
#include "platform/linux/linux_errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

using platform::linuxos::Transfer;

TEST(LinuxFailureCauses, EveryErrnoOfARowMapsToACodeOfThatRow) {
    const std::set<int> known = {EPERM, ENOENT, EIO, ENXIO, EACCES, EBUSY, ENODEV, EROFS, ENOMEDIUM};
    for (const platform::FailureCauseRow& row : platform::failureCauses()) {
        SCOPED_TRACE(row.name);
        for (int number : row.linuxErrnos) {
            EXPECT_EQ(known.count(number), 1u) << number << " is not one of this system's errno values";
            for (Transfer during : {Transfer::None, Transfer::Read, Transfer::Write})
                EXPECT_EQ(platform::causeOfError(platform::linuxos::windowsError(number, during)),
                          row.cause)
                    << "errno " << number;
        }
    }
}
