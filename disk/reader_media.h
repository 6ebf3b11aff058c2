#pragma once
// Whether a reader holds a card, asked without access rights: nothing is
// read from the card, and a run that holds it open is not disturbed.

#include <cstdint>

struct ReaderMedia {
    bool reader = false;       // the drive exists (a reader that is unplugged does not)
    bool removable = false;    // its media are removable: a card reader, not a fixed disk
    bool media = false;        // a card is in it
    uint32_t changeCount = 0;  // changes whenever a card is taken out or put in
};

ReaderMedia readerMedia(int driveNumber);
