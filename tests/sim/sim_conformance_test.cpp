// The simulated machine against the backend conformance cases.
#include "../platform/backend_conformance.h"
#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <filesystem>

namespace {

class SimRig : public BackendRig {
public:
    SimRig() {
        platform::SimDrive card;
        card.imagePath = dir_.file("card.img");
        makeSparseFile(card.imagePath, DRIVE_BYTES);
        sim_.addDrive(3, card);
        sim_.addVolume('E', platform::SimVolume{dir_.path(), 3});
        std::filesystem::permissions(dir_.path(), std::filesystem::perms::all &
                                                      ~std::filesystem::perms::others_write &
                                                      ~std::filesystem::perms::group_write);
    }
    platform::Platform& os() override { return sim_; }
    std::string drive() override { return "\\\\.\\PhysicalDrive3"; }
    bool withoutWriteRights(const std::function<void()>& body) override {
        return runWithoutWriteAccess(dir_.file("card.img"), body);
    }
    char letterWithoutVolume() override { return 'Q'; }

private:
    TempDir dir_;
    platform::SimPlatform sim_;
};

INSTANTIATE_TEST_SUITE_P(Sim, BackendConformance,
                         ::testing::Values(RigMaker{"sim", [] { return std::make_unique<SimRig>(); }}),
                         rigName);

}  // namespace
