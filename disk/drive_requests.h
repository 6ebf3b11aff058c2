#pragma once
// Every request a run makes to its drive (a sector transfer, a flush) passes
// through here, so that an interrupt can stop the run's requests before it
// gives the drive back: the handle is then never used after it is closed (a
// closed Windows handle's value can come back as another object's), and the
// run writes nothing more and reports no failure of its own that only the
// interrupt caused.

#include <cstdint>

// Held for the length of one request. Once requests are stopped, making one
// blocks for good (the process is about to end), except on the thread that
// stopped them.
class DriveRequest {
public:
    DriveRequest();
    ~DriveRequest();
    DriveRequest(const DriveRequest&) = delete;
    DriveRequest& operator=(const DriveRequest&) = delete;
};

// Stops every later request and waits up to `waitMs` for those in flight to
// end. Returns false when one was still in flight (a drive that stopped
// answering): the caller goes on regardless. Never undone.
bool stopDriveRequests(uint32_t waitMs);

// For work that follows a request and would only report on it (the cause of a
// failure): blocks for good once requests are stopped, as a request would.
void holdIfDriveRequestsStopped();
