#include "install/retry_wait.h"

#include "platform/platform.h"

#include <algorithm>

uint64_t RetryWait::now() const {
    return platform::os().GetTickCount64();
}

void RetryWait::pause(uint32_t milliseconds) {
    platform::Platform& os = platform::os();
    const uint64_t end = os.GetTickCount64() + milliseconds;
    for (uint64_t at = os.GetTickCount64(); at < end; at = os.GetTickCount64()) {
        if (report_ != nullptr) report_->keepAlive();
        os.Sleep(static_cast<uint32_t>(std::min<uint64_t>(end - at, KEEP_ALIVE_STEP_MS)));
    }
    if (report_ != nullptr) report_->keepAlive();
}
