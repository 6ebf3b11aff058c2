#include "tools/busy_volume.h"

#include "install/failure_account.h"
#include "platform/failure_causes.h"

std::string thirdVolumeSentence(char letter) {
    return "The card has a third volume, at " + volumePlace(letter) +
           "; only two can be taken from the system. Unmount it and try again.";
}

std::string busyVolumeSentence(char letter) {
    // The volume is still mounted (that is why it refused).
    platform::CauseDetails details;
    details.place = volumePlace(letter);
    return platform::causeSentence(platform::FailureCause::VolumeBusy, details);
}
