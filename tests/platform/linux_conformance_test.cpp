// The Linux backend against the backend conformance cases: on an image file
// in a fake sysfs/dev tree, and on a real loop device behind that tree
// (which needs root and losetup).
#include "backend_conformance.h"
#include "linux_fake_tree.h"

#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class LinuxRig : public BackendRig {
public:
    explicit LinuxRig(bool loopDevice) {
        // The unprivileged case walks down to the node as another user.
        fs::permissions(fs::path(tree_.path("dev")).parent_path(),
                        fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
        tree_.addDisk("sdb", DRIVE_BYTES);
        if (loopDevice) useLoopDevice();
    }
    ~LinuxRig() override {
        if (!loop_.empty()) runCommand("losetup -d " + loop_);
    }
    platform::Platform& os() override { return os_; }
    std::string drive() override { return reason_.empty() ? "\\\\.\\PhysicalDrive1" : ""; }
    std::string skipReason() const override { return reason_; }
    bool withoutWriteRights(const std::function<void()>& body) override {
        return runWithoutWriteAccess(tree_.devPath("sdb"), body);
    }
    char letterWithoutVolume() override { return 'Q'; }

private:
    // The disk's node becomes a block device node of a loop device over an image.
    void useLoopDevice() {
        if (::geteuid() != 0 || !haveProgram("losetup")) {
            reason_ = "a loop device needs root and losetup";
            return;
        }
        const std::string image = tree_.path("card.img");
        makeSparseFile(image, DRIVE_BYTES);
        std::string output;
        if (runCommand("losetup -f --show '" + image + "'", &output) != 0 || output.empty()) {
            reason_ = "no loop device: " + output;
            return;
        }
        loop_ = output.substr(0, output.find('\n'));
        struct stat info {};
        ::stat(loop_.c_str(), &info);
        ::unlink(tree_.devPath("sdb").c_str());
        if (::mknod(tree_.devPath("sdb").c_str(), S_IFBLK | 0644, info.st_rdev) != 0)
            reason_ = "cannot make a device node here";
    }

    FakeLinuxTree tree_;
    platform::LinuxPlatform os_{tree_.roots()};
    std::string loop_, reason_;
};

INSTANTIATE_TEST_SUITE_P(
    Linux, BackendConformance,
    ::testing::Values(RigMaker{"fake_tree", [] { return std::make_unique<LinuxRig>(false); }},
                      RigMaker{"loop_device", [] { return std::make_unique<LinuxRig>(true); }}),
    rigName);

}  // namespace
