#include "disk/drive_fault.h"

#include <mutex>

namespace {

std::mutex faultMutex;
DriveFault last;

}  // namespace

void noteDriveFault(const DriveFault& fault) {
    std::lock_guard<std::mutex> lock(faultMutex);
    last = fault;
}

DriveFault lastDriveFault() {
    std::lock_guard<std::mutex> lock(faultMutex);
    return last;
}

void forgetDriveFault() {
    noteDriveFault(DriveFault());
}
