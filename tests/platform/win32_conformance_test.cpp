// The Windows backend against the backend conformance cases. Its drive is an
// image file, which the backend opens as Windows opens any file: there is no
// physical drive to spare for a test (and wine fakes the raw-disk devices).
#include "backend_conformance.h"
#include "platform/win32/win32_platform.h"
#include "support/temp_dir.h"

namespace {

class Win32Rig : public BackendRig {
public:
    Win32Rig() { makeSparseFile(dir_.file("drive.img"), DRIVE_BYTES); }
    platform::Platform& os() override { return os_; }
    std::string drive() override { return dir_.file("drive.img"); }
    std::string noDiskIoctls() const override {
        return "the drive is an image file, which answers no disk ioctls";
    }
    bool withoutWriteRights(const std::function<void()>& body) override {
        return runWithoutWriteAccess(dir_.file("drive.img"), body);
    }
    char letterWithoutVolume() override {
        const uint32_t used = os_.GetLogicalDrives();
        for (char letter = 'D'; letter <= 'Y'; ++letter)
            if ((used & (1u << (letter - 'A'))) == 0) return letter;
        return 'Z';
    }

private:
    TempDir dir_;
    platform::Win32Platform os_;
};

INSTANTIATE_TEST_SUITE_P(Win32, BackendConformance,
                         ::testing::Values(RigMaker{"win32", [] { return std::make_unique<Win32Rig>(); }}),
                         rigName);

}  // namespace
