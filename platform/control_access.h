#pragma once
// The access rights a handle needs for a control code or a flush, as Windows
// checks them; the other backends keep the same rules so that the logic is
// held to them everywhere.

#include "platform/platform.h"

#include <cstdint>

namespace platform {

// ERROR_ACCESS_DENIED when a handle opened with `access` may not send `code`,
// otherwise ERROR_SUCCESS. The I/O manager passes a code on only when the
// handle has what the code's RequiredAccess bits (14-15) ask for: 1 read,
// 2 write. Locks, unlocks and dismounts, any access by their bits, also need
// a handle opened for reading or writing.
inline uint32_t controlAccessRefusal(uint32_t access, uint32_t code) {
    const uint32_t required = (code >> 14) & 3;
    if ((required & 1) != 0 && (access & GENERIC_READ) == 0) return ERROR_ACCESS_DENIED;
    if ((required & 2) != 0 && (access & GENERIC_WRITE) == 0) return ERROR_ACCESS_DENIED;
    const bool changesState = code == FSCTL_LOCK_VOLUME || code == FSCTL_DISMOUNT_VOLUME ||
                              code == FSCTL_UNLOCK_VOLUME;
    if (changesState && (access & (GENERIC_READ | GENERIC_WRITE)) == 0) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// FlushFileBuffers needs a handle with write access.
inline uint32_t flushAccessRefusal(uint32_t access) {
    return (access & GENERIC_WRITE) == 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

}  // namespace platform
