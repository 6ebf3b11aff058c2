#pragma once
// The interrupt of a run that has child runs: Ctrl-C, a closed terminal or a
// stop request is passed on to every child, which stops as it would alone
// and says how far its card got; the parent ends with the interrupt's exit
// status only once it has shown what the children said.

#include <cstdint>

class InterruptRelay {
public:
    InterruptRelay();
    ~InterruptRelay();
    InterruptRelay(const InterruptRelay&) = delete;
    InterruptRelay& operator=(const InterruptRelay&) = delete;

    // A child started or ended; one started after the interrupt gets it at once.
    void add(int64_t pid);
    void remove(int64_t pid);
    bool interrupted() const;
    // Everything is shown: ends the process as the interrupt asks, or returns
    // when none came.
    void finish();
};
