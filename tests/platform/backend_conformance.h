#pragma once
// One set of cases that every platform backend must pass alike: the same
// call gives the same outcome on sim, linux and win32. Each backend's test
// program instantiates the cases with rigs that set up a drive its way.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

class BackendRig {
public:
    virtual ~BackendRig() = default;
    virtual platform::Platform& os() = 0;
    // The path that opens the rig's drive of DRIVE_BYTES bytes (512-byte
    // sectors), or empty when the rig cannot make one here (skipReason says why).
    virtual std::string drive() = 0;
    virtual std::string skipReason() const { return std::string(); }
    // A drive path that names no drive.
    virtual std::string missingDrive() const { return "\\\\.\\PhysicalDrive15"; }
    // Empty when the backend answers disk ioctls on the rig's drive; else why not.
    virtual std::string noDiskIoctls() const { return std::string(); }
    // Runs `body` as a user who may read the drive but not write it; false
    // (body not run) where the rig cannot take the rights away.
    virtual bool withoutWriteRights(const std::function<void()>& body) = 0;
    // A drive letter that holds no volume on this rig.
    virtual char letterWithoutVolume() = 0;
};

constexpr uint64_t DRIVE_BYTES = 8ull << 20;

struct RigMaker {
    std::string name;
    std::function<std::unique_ptr<BackendRig>()> make;
};

inline void PrintTo(const RigMaker& maker, std::ostream* out) { *out << maker.name; }
inline std::string rigName(const ::testing::TestParamInfo<RigMaker>& info) { return info.param.name; }

class BackendConformance : public ::testing::TestWithParam<RigMaker> {
protected:
    void SetUp() override {
        rig = GetParam().make();
        path = rig->drive();
        if (path.empty()) GTEST_SKIP() << rig->skipReason();
    }
    std::unique_ptr<BackendRig> rig;
    std::string path;
};
