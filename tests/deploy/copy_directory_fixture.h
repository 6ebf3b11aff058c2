#pragma once
// The copier's fixture: a temporary folder for the source and the destination,
// and a fresh simulated machine that collects the debug lines.

#include "deploy/copy_directory.h"

#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

inline QString q(const std::string& path) { return QString::fromStdString(path); }

inline std::string bytes(size_t count, unsigned seed) {
    std::string data(count, '\0');
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return data;
}

// Debug lines land in the simulated machine; each test gets a fresh one.
class CopyDirectoryTest : public ::testing::Test {
protected:
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    TempDir temp;

    std::string src(const std::string& name = "") const { return temp.file("src" + name); }
    std::string dst(const std::string& name = "") const { return temp.file("dst" + name); }
    std::vector<std::string> lines() const { return sim.debugLines(); }
};

