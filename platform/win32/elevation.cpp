// The manifest's requireAdministrator makes Windows ask for the rights before
// the process starts, so there is nothing to do at run time.
#include "platform/elevation.h"

namespace platform {

bool needsElevation() {
    return false;
}

Elevation runElevatedCopy(int, char**, int*) {
    return Elevation::NoHelper;
}

}  // namespace platform
