#pragma once
// The per-thread last-error value of the platform, with Win32 codes, so that
// messages show the numbers users of the original program know.
#include <QString>

#include <cstdint>

namespace plat {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorBadFileType = 222; // a device, FIFO or socket
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorStoppedOnSymlink = 681;
inline constexpr uint32_t kErrorFileInvalid = 1006; // changed while it was read
inline constexpr uint32_t kErrorNoUnicodeTranslation = 1113;
inline constexpr uint32_t kErrorIoDevice = 1117;
inline constexpr uint32_t kErrorTooManyLinks = 1142; // other hard links

uint32_t GetLastError();
// Also forgets the detail.
void SetLastError(uint32_t code);

// A sentence that names the file and says why, for the refusals that have no
// message of their own on the original platform (a link, a FIFO, a file that
// changed while it was read). Empty unless the last failure set one.
QString LastErrorDetail();
// Sets the last error and its detail together.
void SetLastErrorWithDetail(uint32_t code, const QString& detail);

// Puts the last error and its detail back as they were when it was made, so
// that clean-up after a failure does not replace the reason for it.
class LastErrorKeeper {
  public:
    LastErrorKeeper() : code_(GetLastError()), detail_(LastErrorDetail()) {}
    ~LastErrorKeeper() { SetLastErrorWithDetail(code_, detail_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

  private:
    uint32_t code_;
    QString detail_;
};

// errno to the Win32 code of the same failure; anything unmapped is 31.
uint32_t Win32FromErrno(int err);
// Sets the last error from errno and returns it.
uint32_t SetLastErrorFromErrno(int err);
// The system's own words (strerror) for the failure a last error stands for,
// or empty for a code that stands for no single system error.
QString SystemErrorText(uint32_t code);

} // namespace plat
