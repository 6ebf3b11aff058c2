#include "platform/linux/linux_errors.h"

#include "platform/platform.h"

#include <cerrno>

namespace platform {
namespace linuxos {

uint32_t windowsError(int errnoValue, Transfer during) {
    switch (errnoValue) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case EBUSY:
    case EWOULDBLOCK:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case ENOMEDIUM:
        return ERROR_NOT_READY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
    case EFAULT:
        return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
        return ERROR_INVALID_FUNCTION;
    case ESPIPE:
        return ERROR_SEEK;
    case EIO:
    case ENOSPC:
        if (during == Transfer::Read) return ERROR_READ_FAULT;
        if (during == Transfer::Write) return ERROR_WRITE_FAULT;
        return ERROR_GEN_FAILURE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace linuxos
}  // namespace platform
