#include "files.h"

#include "last_error.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

constexpr const char* kDosAttribName = "user.DOSATTRIB";
constexpr const char* kCreationTimeName = "user.keshlor.crtime";

int64_t g_writeBudget = -1; // bytes still taken before writes stop; -1 = no fault
int g_writeFaultErrno = ENOSPC;
bool g_flushFault = false;
int g_flushFaultErrno = EIO;
bool g_deleteFault = false;
int g_deleteFaultErrno = EWOULDBLOCK;

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
}

bool Fail(int err) {
    SetLastErrorFromErrno(err);
    return false;
}

// The DOS bits kept for a file; 0 when none are stored.
uint32_t StoredAttributes(const QByteArray& native) {
    char text[32] = {};
    const ssize_t n = getxattr(native.constData(), kDosAttribName, text, sizeof text - 1);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 16)) & kStoredAttributeMask;
}

bool StoreAttributes(int fd, const QByteArray& native, uint32_t attributes) {
    char text[16];
    const int len = std::snprintf(text, sizeof text, "0x%x", attributes & kStoredAttributeMask);
    const int rc = fd >= 0 ? fsetxattr(fd, kDosAttribName, text, len, 0)
                           : setxattr(native.constData(), kDosAttribName, text, len, 0);
    return rc == 0;
}

bool IsReadOnly(const struct stat& st, const QByteArray& native) {
    return (st.st_mode & S_IWUSR) == 0 || (StoredAttributes(native) & kAttrReadOnly) != 0;
}

int64_t ToNanos(const struct timespec& ts) {
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct timespec FromNanos(int64_t nanos) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(nanos / 1000000000);
    ts.tv_nsec = static_cast<long>(nanos % 1000000000);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1000000000;
        ts.tv_sec -= 1;
    }
    return ts;
}

// Creation time: the kept value wins, then the file system's birth time, then
// the last-write time for file systems that record neither.
int64_t CreationTime(int fd, const QByteArray& native, const struct stat& st) {
    char text[32] = {};
    const ssize_t n = fd >= 0
                          ? fgetxattr(fd, kCreationTimeName, text, sizeof text - 1)
                          : getxattr(native.constData(), kCreationTimeName, text, sizeof text - 1);
    if (n > 0) {
        text[n] = '\0';
        char* end = nullptr;
        const long long value = std::strtoll(text, &end, 10);
        if (end != text)
            return value;
    }
    struct statx sx;
    const int rc = fd >= 0 ? statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx)
                           : statx(AT_FDCWD, native.constData(), 0, STATX_BTIME, &sx);
    if (rc == 0 && (sx.stx_mask & STATX_BTIME))
        return static_cast<int64_t>(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
    return ToNanos(st.st_mtim);
}

FileTimes TimesOf(int fd, const QByteArray& native, const struct stat& st) {
    FileTimes times;
    times.creation = CreationTime(fd, native, st);
    times.lastAccess = ToNanos(st.st_atim);
    times.lastWrite = ToNanos(st.st_mtim);
    return times;
}

uint32_t AttributesOf(const struct stat& st, const QByteArray& native) {
    uint32_t attributes = StoredAttributes(native);
    if (S_ISDIR(st.st_mode))
        attributes |= kAttrDirectory;
    if ((st.st_mode & S_IWUSR) == 0)
        attributes |= kAttrReadOnly;
    if (attributes == 0)
        attributes = kAttrNormal;
    return attributes;
}

// Another descriptor holding the file exclusively makes it busy, as a file
// another program opened with share mode 0 is on the original platform.
bool IsHeldElsewhere(const QByteArray& native) {
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace

FileHandle CreateFile(const QString& path, Access access, Disposition disposition,
                      uint32_t attributes) {
    const QByteArray native = NativePath(path);
    if (native.isEmpty()) {
        Fail(ENOENT);
        return kInvalidHandle;
    }
    struct stat st;
    const bool exists = ::stat(native.constData(), &st) == 0;
    if (access == Access::Write && exists) {
        if (S_ISDIR(st.st_mode) || IsReadOnly(st, native)) {
            Fail(EACCES);
            return kInvalidHandle;
        }
    }

    int flags = O_CLOEXEC;
    switch (disposition) {
    case Disposition::OpenExisting:
        flags |= access == Access::Read ? O_RDONLY : O_WRONLY;
        break;
    case Disposition::CreateNew:
        flags |= O_WRONLY | O_CREAT | O_EXCL;
        break;
    case Disposition::TruncateExisting:
        flags |= O_WRONLY; // truncated only once the lock is ours
        break;
    }

    int fd = -1;
    if (access == Access::Read) {
        // Reading must not disturb the last-access time that is carried over.
        fd = ::open(native.constData(), flags | O_NOATIME);
        if (fd < 0 && errno == EPERM)
            fd = ::open(native.constData(), flags);
    } else {
        fd = ::open(native.constData(), flags, 0666);
    }
    if (fd < 0) {
        Fail(errno);
        return kInvalidHandle;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
        ::close(fd);
        Fail(err);
        return kInvalidHandle;
    }
    if (disposition == Disposition::TruncateExisting && ftruncate(fd, 0) != 0) {
        const int err = errno;
        ::close(fd);
        Fail(err);
        return kInvalidHandle;
    }
    if (disposition != Disposition::OpenExisting)
        StoreAttributes(fd, native, attributes); // no xattrs: the file just has none
    SetLastError(kErrorSuccess);
    return fd;
}

bool CloseHandle(FileHandle file) {
    if (file < 0)
        return Fail(EBADF);
    return ::close(file) == 0 || Fail(errno);
}

bool ReadFile(FileHandle file, void* buffer, uint32_t toRead, uint32_t* bytesRead) {
    uint32_t done = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (done < toRead) {
        const ssize_t n = ::read(file, out + done, toRead - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *bytesRead = done;
            return Fail(errno);
        }
        if (n == 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    *bytesRead = done;
    return true;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t toWrite, uint32_t* bytesWritten) {
    uint32_t done = 0;
    const auto* in = static_cast<const unsigned char*>(buffer);
    while (done < toWrite) {
        uint32_t want = toWrite - done;
        if (g_writeBudget >= 0) {
            if (g_writeBudget == 0) {
                // The injected device stops taking bytes without failing the call.
                SetLastErrorFromErrno(g_writeFaultErrno);
                *bytesWritten = done;
                return true;
            }
            want = static_cast<uint32_t>(std::min<int64_t>(want, g_writeBudget));
        }
        const ssize_t n = ::write(file, in + done, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *bytesWritten = done;
            return Fail(errno);
        }
        if (n == 0) {
            *bytesWritten = done;
            SetLastError(kErrorDiskFull);
            return true;
        }
        done += static_cast<uint32_t>(n);
        if (g_writeBudget >= 0)
            g_writeBudget -= n;
    }
    *bytesWritten = done;
    return true;
}

bool FlushFile(FileHandle file) {
    if (g_flushFault)
        return Fail(g_flushFaultErrno);
    return ::fsync(file) == 0 || Fail(errno);
}

bool FlushFolderOf(const QString& path) {
    QString folder = QFileInfo(path).absolutePath();
    const int fd = ::open(NativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Fail(errno);
    // Some file systems cannot sync a folder; the data itself is synced already.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    const int err = errno;
    ::close(fd);
    return ok || Fail(err);
}

bool SeekToStart(FileHandle file) {
    return ::lseek(file, 0, SEEK_SET) == 0 || Fail(errno);
}

bool GetFileSize(FileHandle file, uint64_t* size) {
    struct stat st;
    if (::fstat(file, &st) != 0)
        return Fail(errno);
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool DeleteFile(const QString& path) {
    const QByteArray native = NativePath(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return Fail(errno);
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && IsReadOnly(st, native)))
        return Fail(EACCES);
    if (S_ISREG(st.st_mode) && IsHeldElsewhere(native))
        return Fail(EWOULDBLOCK);
    if (g_deleteFault)
        return Fail(g_deleteFaultErrno);
    return ::unlink(native.constData()) == 0 || Fail(errno);
}

namespace {

constexpr uint32_t kCopyPiece = 64 * 1024;

bool CopyData(FileHandle in, FileHandle out) {
    std::vector<unsigned char> buffer(kCopyPiece);
    for (;;) {
        uint32_t got = 0;
        if (!ReadFile(in, buffer.data(), kCopyPiece, &got))
            return false;
        if (got == 0)
            return true;
        uint32_t written = 0;
        if (!WriteFile(out, buffer.data(), got, &written))
            return false;
        // WriteFile has set the reason when the device stopped taking bytes.
        if (written != got)
            return false;
    }
}

// Gives the finished copy its name; with `failIfExists` an existing name is
// never replaced, not even by one that appeared while the data was copied.
bool NameCopy(const QByteArray& temporary, const QByteArray& target, bool failIfExists) {
    if (!failIfExists)
        return ::rename(temporary.constData(), target.constData()) == 0;
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(),
                    RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without that kind of rename.
    if (::link(temporary.constData(), target.constData()) != 0)
        return false;
    ::unlink(temporary.constData());
    return true;
}

} // namespace

bool CopyFile(const QString& source, const QString& target, bool failIfExists) {
    const QByteArray nativeSource = NativePath(source);
    const QByteArray nativeTarget = NativePath(target);
    if (nativeTarget.isEmpty())
        return Fail(ENOENT);
    const FileHandle in = CreateFile(source, Access::Read, Disposition::OpenExisting);
    if (in == kInvalidHandle)
        return false;
    FileHandle replaced = kInvalidHandle;
    int out = -1;
    QByteArray temporary;
    // Leaves the last error as the failure set it.
    const auto abandon = [&] {
        if (out >= 0) {
            ::close(out);
            ::unlink(temporary.constData());
        }
        if (replaced != kInvalidHandle)
            ::close(replaced);
        ::close(in);
        return false;
    };
    const auto fail = [&](int err) {
        SetLastErrorFromErrno(err);
        return abandon();
    };

    struct stat from;
    if (::fstat(in, &from) != 0)
        return fail(errno);
    if (S_ISDIR(from.st_mode))
        return fail(EACCES);
    struct stat existing;
    if (::stat(nativeTarget.constData(), &existing) == 0) {
        // Replacing a file by itself would empty it before it is read.
        if (existing.st_dev == from.st_dev && existing.st_ino == from.st_ino)
            return fail(EWOULDBLOCK);
        if (failIfExists)
            return fail(EEXIST);
        // Held for writing until it is replaced: a read-only, busy or folder
        // target is refused as the platform refuses it.
        replaced = CreateFile(target, Access::Write, Disposition::OpenExisting);
        if (replaced == kInvalidHandle)
            return abandon();
    }

    temporary =
        NativePath(QFileInfo(target).absolutePath() + QStringLiteral("/.keshlor-copy-XXXXXX"));
    out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0)
        return fail(errno == ENOENT ? ENOTDIR : errno);
    if (!CopyData(in, out))
        return abandon();
    if (::fchmod(out, from.st_mode & 0777) != 0)
        return fail(errno);
    if (const uint32_t attributes = StoredAttributes(nativeSource))
        StoreAttributes(out, QByteArray(), attributes); // no xattrs there: the copy has none
    const struct timespec times[2] = {{0, UTIME_NOW}, from.st_mtim};
    if (::futimens(out, times) != 0)
        return fail(errno);
    if (!FlushFile(out))
        return abandon();
    if (!NameCopy(temporary, nativeTarget, failIfExists))
        return fail(errno);
    ::close(out);
    out = -1;
    FlushFolderOf(target);
    if (replaced != kInvalidHandle)
        ::close(replaced);
    ::close(in);
    SetLastError(kErrorSuccess);
    return true;
}

uint32_t GetFileAttributes(const QString& path) {
    const QByteArray native = NativePath(path);
    struct stat st;
    if (native.isEmpty() || ::stat(native.constData(), &st) != 0) {
        SetLastErrorFromErrno(native.isEmpty() ? ENOENT : errno);
        return kInvalidAttributes;
    }
    return AttributesOf(st, native);
}

bool SetFileAttributes(const QString& path, uint32_t attributes) {
    const QByteArray native = NativePath(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0)
        return Fail(errno);
    if (!(attributes & kAttrReadOnly) && (st.st_mode & S_IWUSR) == 0 &&
        ::chmod(native.constData(), st.st_mode | S_IWUSR) != 0)
        return Fail(errno);
    if (!StoreAttributes(-1, native, attributes)) {
        const int err = errno;
        const bool onlyPlainBits = (attributes & ~(kAttrArchive | kAttrNormal)) == 0;
        if ((err == ENOTSUP || err == EOPNOTSUPP) && onlyPlainBits)
            return true;
        return Fail(err == EOPNOTSUPP ? ENOTSUP : err);
    }
    return true;
}

bool GetFileTime(FileHandle file, FileTimes* times) {
    struct stat st;
    if (::fstat(file, &st) != 0)
        return Fail(errno);
    *times = TimesOf(file, QByteArray(), st);
    return true;
}

bool SetFileTime(FileHandle file, const FileTimes& times) {
    const struct timespec ts[2] = {FromNanos(times.lastAccess), FromNanos(times.lastWrite)};
    if (::futimens(file, ts) != 0)
        return Fail(errno);
    char text[32];
    const int len =
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(times.creation));
    if (fsetxattr(file, kCreationTimeName, text, len, 0) != 0)
        return Fail(errno);
    return true;
}

bool GetFileTimesByPath(const QString& path, FileTimes* times) {
    const QByteArray native = NativePath(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0)
        return Fail(errno);
    *times = TimesOf(-1, native, st);
    return true;
}

bool GetFindData(const QString& path, FindData* data) {
    const QByteArray native = NativePath(path);
    struct stat st;
    if (native.isEmpty() || ::stat(native.constData(), &st) != 0)
        return Fail(native.isEmpty() ? ENOENT : errno);
    data->name = QFileInfo(path).fileName();
    data->attributes = AttributesOf(st, native);
    data->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    data->times = TimesOf(-1, native, st);
    return true;
}

bool GenerateRandom(void* buffer, size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = getrandom(out + done, length - done, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace faults {

void FailWritesAfter(int64_t bytesAllowed, int error) {
    g_writeBudget = bytesAllowed;
    g_writeFaultErrno = error;
}

void FailFlushes(bool on, int error) {
    g_flushFault = on;
    g_flushFaultErrno = error;
}

void FailDeletes(bool on, int error) {
    g_deleteFault = on;
    g_deleteFaultErrno = error;
}

void Clear() {
    g_writeBudget = -1;
    g_flushFault = false;
    g_deleteFault = false;
}

} // namespace faults

} // namespace plat
