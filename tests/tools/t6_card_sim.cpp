// t6-card on a simulated machine: `t6_card_sim --machine FILE <t6-card
// arguments>`. The drives are the machine's; the runs it starts for several
// cards are this program again, on the same machine and the same timeline.

#include "platform/sim/machine_file.h"
#include "platform/sim_platform.h"
#include "tools/card_child.h"
#include "tools/card_main.h"
#include "tools/os_services.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr char START_VARIABLE[] = "ZEL_SIM_START_MS";
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() < 2 || arguments[0] != "--machine") {
        std::fprintf(stderr, "usage: t6_card_sim --machine FILE ARGUMENTS...\n");
        return 2;
    }
    const std::string machineFile = arguments[1];
    arguments.erase(arguments.begin(), arguments.begin() + 2);
    platform::SimPlatform sim;
    sim.setRecordCalls(false);
    sim.setEchoDebug(true);
    platform::SimMachineFile machine;
    std::string error;
    if (!platform::loadSimMachine(machineFile, sim, machine, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    // One timeline for the whole run: the first process sets the machine's
    // time 0, the card runs it starts inherit it.
    const char* start = std::getenv(START_VARIABLE);
    uint64_t startMs = start != nullptr ? std::strtoull(start, nullptr, 10) : 0;
    if (startMs == 0) {
        startMs = platform::simSteadyNowMs();
        qputenv(START_VARIABLE, QByteArray::number(static_cast<qulonglong>(startMs)));
    }
    sim.setStartMs(startMs);
    const platform::ScopedPlatform scoped(sim);
    setCardChildCommand({programFile(), {"--machine", machineFile}});
    return cardMain(arguments);
}
