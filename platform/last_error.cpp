#include "last_error.h"

#include <cerrno>

namespace plat {

namespace {
thread_local uint32_t t_lastError = kErrorSuccess;
}

uint32_t GetLastError() {
    return t_lastError;
}

void SetLastError(uint32_t code) {
    t_lastError = code;
}

uint32_t Win32FromErrno(int err) {
    switch (err) {
    case 0:
        return kErrorSuccess;
    case ENOENT:
        return kErrorFileNotFound;
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return kErrorAccessDenied;
    case EBADF:
        return kErrorInvalidHandle;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    case EEXIST:
        return kErrorFileExists;
    case EINVAL:
        return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
        return kErrorDiskFull;
    case ENAMETOOLONG:
        return kErrorFilenameExcedRange;
    case EWOULDBLOCK:
        return kErrorSharingViolation;
    case EIO:
        return kErrorIoDevice;
    case ENOTSUP:
        return kErrorNotSupported;
    default:
        return kErrorGenFailure;
    }
}

uint32_t SetLastErrorFromErrno(int err) {
    const uint32_t code = Win32FromErrno(err);
    SetLastError(code);
    return code;
}

} // namespace plat
