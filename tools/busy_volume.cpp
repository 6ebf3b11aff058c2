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

std::string leftMountedSentence(char refused, char third) {
    if (refused != '\0') return busyVolumeSentence(refused);
    if (third != '\0') return thirdVolumeSentence(third);
    return "A volume of the card without a drive letter could not be taken from the system "
           "(busy, or one too many). Unmount it and try again.";
}
