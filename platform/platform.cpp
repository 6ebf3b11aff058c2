#include "platform/platform.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<Platform*> installed{nullptr};

Platform& native() {
    // Built on first use and kept for the life of the process.
    static std::unique_ptr<Platform> instance = makeNativePlatform();
    return *instance;
}

}  // namespace

Platform& os() {
    Platform* backend = installed.load();
    return backend != nullptr ? *backend : native();
}

Platform* setOs(Platform* backend) {
    return installed.exchange(backend);
}

}  // namespace platform
