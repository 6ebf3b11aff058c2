#pragma once
// Every request a run makes to its card passes through here: a sector
// transfer or flush on the drive, and on the boot volume a mount, a folder, a
// file opened or a buffer of it written, a flush. An interrupt stops them
// before it gives the card back, so that a closed handle is never used (a
// closed Windows handle's value can come back as another object's), nothing
// is written or mounted after the volumes went back, and the run reports no
// failure of its own that only the interrupt caused.

#include <cstdint>

// Held for the length of one request. Once requests are stopped, making one
// blocks for good (the process is about to end), except on the thread that
// stopped them.
class CardRequest {
public:
    CardRequest();
    ~CardRequest();
    CardRequest(const CardRequest&) = delete;
    CardRequest& operator=(const CardRequest&) = delete;
};

// Stops every later request and waits up to `waitMs` for those in flight to
// end. Returns false when one was still in flight (a drive that stopped
// answering): the caller goes on regardless. Never undone.
bool stopCardRequests(uint32_t waitMs);

// For work that follows a request and would only report on it (the cause of a
// failure): blocks for good once requests are stopped, as a request would.
void holdIfCardRequestsStopped();
