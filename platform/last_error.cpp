#include "platform/last_error.h"

#include <cerrno>
#include <cstring>

namespace plat {

namespace {
thread_local uint32_t t_lastError = kErrorSuccess;
thread_local QString t_detail;
} // namespace

uint32_t GetLastError() {
    return t_lastError;
}

void SetLastError(uint32_t code) {
    t_lastError = code;
    t_detail.clear();
}

QString LastErrorDetail() {
    return t_detail;
}

void SetLastErrorWithDetail(uint32_t code, const QString& detail) {
    t_lastError = code;
    t_detail = detail;
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
    case ELOOP:
        return kErrorStoppedOnSymlink;
    case EMLINK:
        return kErrorTooManyLinks;
    case ENOTSUP:
        return kErrorNotSupported;
    default:
        return kErrorGenFailure;
    }
}

QString SystemErrorText(uint32_t code) {
    // Codes that several errors share keep their commonest one; the lock held
    // elsewhere (32) and the refusals of links and file kinds carry their own
    // detail, which the system's words would only blur.
    int err = 0;
    switch (code) {
    case kErrorFileNotFound:
        err = ENOENT;
        break;
    case kErrorPathNotFound:
        err = ENOTDIR;
        break;
    case kErrorAccessDenied:
        err = EACCES;
        break;
    case kErrorInvalidHandle:
        err = EBADF;
        break;
    case kErrorNotEnoughMemory:
        err = ENOMEM;
        break;
    case kErrorNotSupported:
        err = ENOTSUP;
        break;
    case kErrorFileExists:
        err = EEXIST;
        break;
    case kErrorInvalidParameter:
        err = EINVAL;
        break;
    case kErrorDiskFull:
        err = ENOSPC;
        break;
    case kErrorFilenameExcedRange:
        err = ENAMETOOLONG;
        break;
    case kErrorIoDevice:
        err = EIO;
        break;
    default:
        return QString();
    }
    return QString::fromLocal8Bit(std::strerror(err));
}

uint32_t SetLastErrorFromErrno(int err) {
    const uint32_t code = Win32FromErrno(err);
    SetLastError(code);
    return code;
}

} // namespace plat
