#include "tools/busy_volume.h"

#include "platform/platform.h"

namespace {

// A mounted volume's root is where the user sees it; the letter stands in
// when there is none.
std::string placeOf(char letter) {
    std::string place = platform::os().volumeRoot(letter);
    while (place.size() > 1 && (place.back() == '/' || place.back() == '\\')) place.pop_back();
    if (place.empty()) place = std::string(1, letter) + ":";
    return place;
}

}  // namespace

std::string thirdVolumeSentence(char letter) {
    return "The card has a third volume, at " + placeOf(letter) +
           "; only two can be taken from the system. Unmount it and try again.";
}

std::string busyVolumeSentence(char letter) {
    // The volume is still mounted (that is why it refused).
    const std::string place = placeOf(letter);
    return "The card's volume at " + place +
           " is busy: a program has files open on it. Close them (or unmount the volume) and "
           "try again.";
}

std::string leftMountedSentence(char refused, char third) {
    if (refused != '\0') return busyVolumeSentence(refused);
    if (third != '\0') return thirdVolumeSentence(third);
    return "A volume of the card without a drive letter could not be taken from the system "
           "(busy, or one too many). Unmount it and try again.";
}
