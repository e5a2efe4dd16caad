#include "platform/files.h"

#include "platform/file_names.h"
#include "platform/files_detail.h"
#include "platform/last_error.h"
#include "platform/unique_fd.h"
#include "platform/write_all.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

constexpr const char* kCreationTimeName = "user.keshlor.crtime";
constexpr char kKeshlorAttributePrefix[] = "user.keshlor.";
constexpr const char* kAccessListName = "system.posix_acl_access";

int64_t g_writeBudget = -1; // bytes still taken before writes stop; -1 = no fault
int g_writeFaultErrno = ENOSPC;
int64_t g_readBudget = -1;
int g_readFaultErrno = EIO;
bool g_flushFault = false;
int g_flushFaultErrno = EIO;
bool g_folderFlushFault = false;
int g_folderFlushFaultErrno = EIO;
QStringList* g_flushedFolders = nullptr;
bool g_deleteFault = false;
int g_deleteFaultErrno = EWOULDBLOCK;
std::function<void(const QString&)> g_beforeTemporaryLock;
std::function<void(const QString&, const QString&)> g_afterRename;

using detail::DotNames;
using detail::Fail;
using detail::FolderOf;
using detail::IsReadOnlyFile;
using detail::kDosAttribName;
using detail::KindOfMode;
using detail::NativePath;
using detail::RenameNoReplace;
using detail::SameFile;

// The DOS bits kept for a file; 0 when none are stored.
uint32_t StoredAttributes(const QByteArray& native) {
    char text[32] = {};
    return detail::StoredBitsOf(
        text, getxattr(native.constData(), kDosAttribName, text, sizeof text - 1));
}

bool StoreAttributes(int fd, const QByteArray& native, uint32_t attributes) {
    char text[16];
    const int len = std::snprintf(text, sizeof text, "0x%x", attributes & kStoredAttributeMask);
    const int rc = fd >= 0 ? fsetxattr(fd, kDosAttribName, text, len, 0)
                           : setxattr(native.constData(), kDosAttribName, text, len, 0);
    return rc == 0;
}

// Bits that a file system without extended attributes loses nothing by not keeping.
bool OnlyPlainBits(uint32_t attributes) {
    return (attributes & ~(kAttrArchive | kAttrNormal)) == 0;
}

bool IsReadOnly(const struct stat& st, const QByteArray& native) {
    return (st.st_mode & S_IWUSR) == 0 || (StoredAttributes(native) & kAttrReadOnly) != 0;
}

FileKind KindOfNative(const QByteArray& native) {
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return FileKind::Missing;
    return KindOfMode(st.st_mode);
}

// Opens a regular file and nothing else: no symbolic link in the last
// component is followed, a FIFO or device cannot block the open, and what is
// refused is told by the open descriptor, so nothing can be swapped in
// between a look and the open.
UniqueFd OpenRegular(const QString& path, const QByteArray& native, int flags, mode_t mode = 0600) {
    flags |= O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd(::open(native.constData(), flags, mode));
    if (!fd.valid() && errno == EPERM && (flags & O_NOATIME))
        fd.reset(::open(native.constData(), flags & ~O_NOATIME, mode));
    if (!fd.valid()) {
        const int err = errno;
        // These say that the name is something other than a regular file.
        if (err == ELOOP || err == ENXIO || err == EISDIR || err == ENODEV || err == EOPNOTSUPP) {
            const FileKind kind = KindOfNative(native);
            if (kind != FileKind::Regular && kind != FileKind::Missing) {
                RefuseFileKind(kind, path);
                return UniqueFd();
            }
        }
        Fail(err);
        return UniqueFd();
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        Fail(errno);
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode)) {
        RefuseFileKind(KindOfMode(st.st_mode), path);
        return UniqueFd();
    }
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status >= 0)
        ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK);
    return fd;
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

// A path named on its own: a leading "." in its name adds nothing.
uint32_t AttributesOf(const struct stat& st, const QByteArray& native) {
    return detail::DosAttributes(StoredAttributes(native), st.st_mode, native.constData(),
                                 DotNames::AsStored);
}

FileState StateOf(const struct stat& st) {
    FileState state;
    state.device = st.st_dev;
    state.inode = st.st_ino;
    state.links = st.st_nlink;
    state.size = static_cast<uint64_t>(st.st_size);
    state.lastWrite = ToNanos(st.st_mtim);
    state.lastChange = ToNanos(st.st_ctim);
    state.mode = st.st_mode & 07777;
    state.owner = st.st_uid;
    state.group = st.st_gid;
    return state;
}

// Another descriptor holding the file exclusively makes it busy, as a file
// another program opened with share mode 0 is on the original platform.
bool IsHeldElsewhere(const QByteArray& native) {
    const UniqueFd fd(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    return fd.valid() && flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

} // namespace

UniqueFd CreateFile(const QString& path, Access access, Disposition disposition,
                    uint32_t attributes) {
    const QByteArray native = NativePath(path);
    if (native.isEmpty()) {
        Fail(ENOENT);
        return UniqueFd();
    }
    int flags = 0;
    switch (disposition) {
    case Disposition::OpenExisting:
        // Reading must not disturb the last-access time that is carried over.
        flags = access == Access::Read ? O_RDONLY | O_NOATIME : O_WRONLY;
        break;
    case Disposition::CreateNew:
        flags = O_WRONLY | O_CREAT | O_EXCL;
        break;
    case Disposition::TruncateExisting:
        flags = O_WRONLY; // truncated only once the lock is ours
        break;
    }
    UniqueFd fd = OpenRegular(path, native, flags);
    if (!fd.valid())
        return UniqueFd();
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        Fail(errno);
        return UniqueFd();
    }
    if (access == Access::Write && disposition != Disposition::CreateNew &&
        IsReadOnlyFile(fd.get(), st)) {
        Fail(EACCES);
        return UniqueFd();
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        Fail(errno);
        return UniqueFd();
    }
    if (disposition == Disposition::TruncateExisting && ftruncate(fd.get(), 0) != 0) {
        Fail(errno);
        return UniqueFd();
    }
    if (disposition != Disposition::OpenExisting)
        StoreAttributes(fd.get(), native, attributes); // no xattrs: the file just has none
    SetLastError(kErrorSuccess);
    return fd;
}

bool UnlockFile(int file) {
    return flock(file, LOCK_UN) == 0 || Fail(errno);
}

bool ReadFile(int file, void* buffer, uint32_t toRead, uint32_t* bytesRead) {
    uint32_t done = 0;
    if (g_readBudget >= 0) {
        if (g_readBudget < toRead) {
            *bytesRead = 0;
            return Fail(g_readFaultErrno);
        }
        g_readBudget -= toRead;
    }
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

bool WriteFile(int file, const void* buffer, uint32_t toWrite, uint32_t* bytesWritten) {
    const uint32_t allowed = g_writeBudget >= 0
                                 ? static_cast<uint32_t>(std::min<int64_t>(toWrite, g_writeBudget))
                                 : toWrite;
    size_t done = 0;
    const bool whole = WriteAll(file, buffer, allowed, {}, &done);
    *bytesWritten = static_cast<uint32_t>(done);
    if (g_writeBudget >= 0)
        g_writeBudget -= static_cast<int64_t>(done);
    if (!whole)
        return Fail(errno);
    // The injected device stops taking bytes without failing the call.
    if (allowed < toWrite)
        SetLastErrorFromErrno(g_writeFaultErrno);
    return true;
}

bool FlushFile(int file) {
    if (g_flushFault)
        return Fail(g_flushFaultErrno);
    return ::fsync(file) == 0 || Fail(errno);
}

bool FlushFolderOf(const QString& path) {
    if (g_folderFlushFault)
        return Fail(g_folderFlushFaultErrno);
    const QString folder = QFileInfo(path).absolutePath();
    const UniqueFd fd(::open(NativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return Fail(errno);
    // Some file systems cannot sync a folder; the data itself is synced already.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return Fail(errno);
    if (g_flushedFolders)
        g_flushedFolders->append(folder);
    return true;
}

bool SeekToStart(int file) {
    return ::lseek(file, 0, SEEK_SET) == 0 || Fail(errno);
}

bool GetFileSize(int file, uint64_t* size) {
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
    if (detail::DeleteFaultOn())
        return Fail(errno);
    return ::unlink(native.constData()) == 0 || Fail(errno);
}

namespace {

constexpr uint32_t kCopyPiece = 64 * 1024;

// Whether `native` names the file `held` describes, through links too.
bool NamesSameFile(const QByteArray& native, const struct stat& held) {
    struct stat named;
    return ::stat(native.constData(), &named) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
}

// The data of `in`, and its last-write time; the copy's last access is its
// making. Times the file system refuses do not fail the copy.
bool CopyContent(int in, int out, const struct timespec& lastWrite) {
    if (!CopyData(in, out))
        return false;
    const struct timespec times[2] = {{0, UTIME_NOW}, lastWrite};
    ::futimens(out, times);
    return true;
}

} // namespace

bool CopyFile(const QString& source, const QString& target, bool failIfExists, HeldSource* held,
              Replacement* replaced) {
    const QByteArray nativeTarget = NativePath(target);
    if (nativeTarget.isEmpty())
        return Fail(ENOENT);
    UniqueFd in = CreateFile(source, Access::Read, Disposition::OpenExisting);
    if (!in.valid())
        return false;
    struct stat from;
    FileState opened;
    if (::fstat(in.get(), &from) != 0 || !GetFileState(in.get(), &opened))
        return Fail(errno);
    // Replacing a file by itself, under any of its names, would lose it.
    if (NamesSameFile(nativeTarget, from))
        return Fail(EWOULDBLOCK);

    Replacement copy;
    if (!CreateReplacement(target, TemporaryKind::Plain, StoredAttributes(NativePath(source)),
                           !failIfExists, &copy))
        return false;
    // The copy stays the copier's own, in the source's group where it may be.
    FileState group = opened;
    group.owner = ::geteuid();
    copy.keepReplaced = replaced != nullptr;
    if (!CopyContent(in.get(), copy.file.get(), from.st_mtim) ||
        !CommitReplacement(&copy, from.st_mode & 0777, &group, in.get())) {
        DiscardReplacement(&copy);
        return false;
    }
    if (held) {
        held->file = std::move(in);
        held->opened = opened;
    }
    if (replaced)
        *replaced = std::move(copy);
    SetLastError(kErrorSuccess);
    return true;
}

bool CopyData(int in, int out) {
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

FileKind GetFileKind(const QString& path) {
    const QByteArray native = NativePath(path);
    return native.isEmpty() ? FileKind::Missing : KindOfNative(native);
}

void RefuseFileKind(FileKind kind, const QString& path) {
    const QString name = QStringLiteral("\u201c%1\u201d").arg(path);
    switch (kind) {
    case FileKind::SymbolicLink:
        SetLastErrorWithDetail(kErrorStoppedOnSymlink,
                               QStringLiteral("%1 is a symbolic link: Keshlor works only on "
                                              "regular files and does not follow links.")
                                   .arg(name));
        return;
    case FileKind::Folder:
        SetLastErrorWithDetail(kErrorAccessDenied, QStringLiteral("%1 is a folder.").arg(name));
        return;
    case FileKind::Device:
        SetLastErrorWithDetail(kErrorBadFileType,
                               QStringLiteral("%1 is a device, not a regular file.").arg(name));
        return;
    case FileKind::Fifo:
        SetLastErrorWithDetail(
            kErrorBadFileType,
            QStringLiteral("%1 is a FIFO (a named pipe), not a regular file.").arg(name));
        return;
    case FileKind::Socket:
        SetLastErrorWithDetail(kErrorBadFileType,
                               QStringLiteral("%1 is a socket, not a regular file.").arg(name));
        return;
    case FileKind::Missing:
        Fail(ENOENT);
        return;
    case FileKind::Regular:
        SetLastError(kErrorSuccess);
        return;
    }
}

bool GetFileState(int file, FileState* state) {
    struct stat st;
    if (::fstat(file, &st) != 0)
        return Fail(errno);
    *state = StateOf(st);
    return true;
}

bool FileChanged(const FileState& before, const FileState& after) {
    return before.device != after.device || before.inode != after.inode ||
           before.size != after.size || before.lastWrite != after.lastWrite ||
           before.lastChange != after.lastChange;
}

uint32_t CarriedMode(uint32_t mode) {
    return (mode & 0777) | S_IRUSR | S_IWUSR;
}

namespace {

constexpr char kTemporaryPrefix[] = ".keshlor-";
constexpr char kPlainPrefix[] = ".keshlor-plain-";
constexpr char kContainerPrefix[] = ".keshlor-container-";
constexpr int kTemporarySuffixLength = 10;
// Names an earlier version wrote for copies in progress.
constexpr char kCopyPrefix[] = ".keshlor-copy-";
constexpr int kCopySuffixLength = 6;

QString TemporaryPathIn(const QString& folder, TemporaryKind kind) {
    return detail::RandomPathIn(folder,
                                kind == TemporaryKind::Plain ? kPlainPrefix : kContainerPrefix);
}

// Whether `name` is `prefix` followed by exactly `length` characters that
// `allowed` takes: only the names Keshlor makes, never a user's look-alike.
bool IsMadeName(const QString& name, const char* prefix, qsizetype length,
                bool (*allowed)(char16_t)) {
    const qsizetype prefixLength = qsizetype(std::strlen(prefix));
    if (name.size() != prefixLength + length || !name.startsWith(QLatin1String(prefix)))
        return false;
    for (qsizetype at = prefixLength; at < name.size(); ++at)
        if (!allowed(name.at(at).unicode()))
            return false;
    return true;
}

bool IsLowerOrDigit(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

bool IsLetterOrDigit(char16_t c) {
    return IsLowerOrDigit(c) || (c >= u'A' && c <= u'Z');
}

// A new temporary file in `folder`, 0600 and held.
UniqueFd CreateTemporary(const QString& folder, TemporaryKind kind, QString* path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = TemporaryPathIn(folder, kind);
        UniqueFd fd(::open(NativePath(candidate).constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            Fail(errno);
            return UniqueFd();
        }
        if (g_beforeTemporaryLock)
            g_beforeTemporaryLock(candidate);
        // The umask may have taken the owner's bits: the file is ours to write and remove.
        const bool held = ::fchmod(fd.get(), 0600) == 0 && flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
        // Until it is locked, another run clearing leftovers in the folder may
        // take the new file for one: that run removes it, and a new one is made.
        if (!held && errno == EWOULDBLOCK)
            continue;
        if (!held) {
            Fail(errno);
            ::unlink(NativePath(candidate).constData());
            return UniqueFd();
        }
        if (!SameFile(fd.get(), NativePath(candidate)))
            continue;
        *path = candidate;
        return fd;
    }
    Fail(EEXIST);
    return UniqueFd();
}

// The temporary file of `replacement`, in the folder of its name.
bool CreateTemporaryFor(Replacement* replacement, uint32_t attributes) {
    replacement->file =
        CreateTemporary(FolderOf(replacement->path), replacement->kind, &replacement->temporary);
    if (!replacement->file.valid()) {
        replacement->existing.reset();
        return false;
    }
    if (attributes != 0 && !StoreAttributes(replacement->file.get(), QByteArray(), attributes))
        replacement->attributesStored = OnlyPlainBits(attributes);
    SetLastError(kErrorSuccess);
    return true;
}

// Whether `native` names something that a rename may swap places with.
bool NamesNonFolder(const QByteArray& native) {
    struct stat st;
    return ::lstat(native.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

} // namespace

bool CreateReplacement(const QString& path, TemporaryKind kind, uint32_t attributes,
                       bool replaceExisting, Replacement* replacement) {
    *replacement = Replacement{};
    replacement->path = path;
    replacement->kind = kind;
    replacement->replaceExisting = replaceExisting;
    const QByteArray native = NativePath(path);
    if (native.isEmpty())
        return Fail(ENOENT);
    const FileKind existing = KindOfNative(native);
    if (existing != FileKind::Missing) {
        if (!replaceExisting)
            return Fail(EEXIST);
        if (existing != FileKind::Regular) {
            RefuseFileKind(existing, path);
            return false;
        }
        // Held until it is replaced, so no other run takes it meanwhile.
        replacement->existing = CreateFile(path, Access::Write, Disposition::OpenExisting);
        if (!replacement->existing.valid())
            return false;
    }
    return CreateTemporaryFor(replacement, attributes);
}

bool WriteReplacement(Replacement* replacement, const void* buffer, uint32_t toWrite,
                      uint32_t* bytesWritten) {
    constexpr uint64_t kWriteBackWindow = 8u << 20;
    // Whole pages only: writing into a page under write-back may have to wait for it.
    constexpr uint64_t kPageBytes = 4096;
    if (!WriteFile(replacement->file.get(), buffer, toWrite, bytesWritten))
        return false;
    replacement->written += *bytesWritten;
    const uint64_t end = replacement->written & ~(kPageBytes - 1);
    if (end - replacement->writeBackFrom < kWriteBackWindow)
        return true;
    // Only starts the write-back; the flush at commit still waits for it and
    // reports how it went.
    if (::sync_file_range(replacement->file.get(), static_cast<off64_t>(replacement->writeBackFrom),
                          static_cast<off64_t>(end - replacement->writeBackFrom),
                          SYNC_FILE_RANGE_WRITE) != 0 &&
        errno != ENOSYS && errno != EINVAL && errno != ESPIPE)
        return Fail(errno);
    replacement->writeBackFrom = end;
    return true;
}

bool CommitReplacement(Replacement* replacement, uint32_t mode, const FileState* owner,
                       int extendedFrom) {
    const int file = replacement->file.get();
    if (extendedFrom >= 0 && !CarryExtendedAttributes(extendedFrom, file)) {
        // Its access list cannot be kept here: only the owner may read the result.
        replacement->accessListKept = false;
        mode &= ~static_cast<uint32_t>(S_IRWXG | S_IRWXO);
    }
    if (owner) {
        // Where the process may not give the file away, it keeps its own owner.
        if (::fchown(file, owner->owner, owner->group) != 0 &&
            ::fchown(file, static_cast<uid_t>(-1), owner->group) != 0) {
            // Neither could be given: the group's bits go below.
        }
        struct stat st;
        // Another group's members would read what the source's group alone could.
        if (::fstat(file, &st) != 0 || st.st_gid != owner->group)
            mode &= ~static_cast<uint32_t>(S_IRWXG);
    }
    if (::fchmod(file, mode) != 0)
        return Fail(errno);
    if (!FlushFile(file))
        return false;

    const QByteArray temporary = NativePath(replacement->temporary);
    const QByteArray target = NativePath(replacement->path);
    bool exchanged = false;
    if ((replacement->existing.valid() && SameFile(replacement->existing.get(), target)) ||
        (replacement->overwrite && NamesNonFolder(target))) {
        // The earlier file stays whole under the temporary name until the new
        // name is on the disk.
        exchanged = ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(),
                                RENAME_EXCHANGE) == 0;
        if (!exchanged && errno != EINVAL && errno != ENOSYS)
            return Fail(errno);
        if (!exchanged && ::rename(temporary.constData(), target.constData()) != 0)
            return Fail(errno);
    } else if (replacement->overwrite) {
        // Nothing to keep, or a folder, which the rename refuses.
        if (::rename(temporary.constData(), target.constData()) != 0)
            return Fail(errno);
    } else if (!RenameNoReplace(temporary, target)) {
        // Nothing was there to replace when the run began; what came since stays.
        return Fail(errno);
    }

    if (!FlushFolderOf(replacement->path)) {
        // Back to where it was, so that the failure leaves the name as it found it.
        if (exchanged)
            ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(),
                        RENAME_EXCHANGE);
        else
            ::rename(target.constData(), temporary.constData());
        return false;
    }
    detail::NoteRename(replacement->temporary, replacement->path);
    replacement->file.reset();
    if (replacement->keepReplaced && replacement->existing.valid()) {
        // The caller disposes of it; until then it is held under the temporary name.
        if (exchanged)
            replacement->replacedAt = replacement->temporary;
    } else {
        if (exchanged)
            ::unlink(temporary.constData());
        replacement->existing.reset();
    }
    SetLastError(kErrorSuccess);
    return true;
}

void ReleaseReplacement(Replacement* replacement) {
    replacement->file.reset();
    replacement->existing.reset();
}

void DiscardReplacement(Replacement* replacement) {
    const bool open = replacement->file.valid();
    ReleaseReplacement(replacement);
    if (open)
        ::unlink(NativePath(replacement->temporary).constData());
}

bool ReplaceFile(const QString& path, uint32_t mode, const FileState* owner,
                 const std::function<bool(int file)>& fill) {
    Replacement replacement;
    replacement.path = path;
    replacement.overwrite = true;
    if (NativePath(path).isEmpty())
        return Fail(ENOENT);
    if (!CreateTemporaryFor(&replacement, 0))
        return false;
    if (!fill(replacement.file.get()) || !CommitReplacement(&replacement, mode, owner)) {
        DiscardReplacement(&replacement);
        return false;
    }
    return true;
}

bool ReplaceFile(const QString& path, const QByteArray& content, uint32_t mode) {
    return ReplaceFile(path, mode, nullptr,
                       [&content](int file) { return WriteAll(file, content) || Fail(errno); });
}

bool IsTemporaryName(const QString& name, TemporaryKind* kind) {
    TemporaryKind found = TemporaryKind::Plain;
    if (IsMadeName(name, kContainerPrefix, kTemporarySuffixLength, IsLowerOrDigit))
        found = TemporaryKind::Container;
    else if (!IsMadeName(name, kPlainPrefix, kTemporarySuffixLength, IsLowerOrDigit) &&
             !IsMadeName(name, kCopyPrefix, kCopySuffixLength, IsLetterOrDigit))
        return false;
    if (kind)
        *kind = found;
    return true;
}

bool MoveAside(const QString& path, TemporaryKind kind, QString* temporary) {
    const QByteArray native = NativePath(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = TemporaryPathIn(FolderOf(path), kind);
        if (RenameNoReplace(native, NativePath(candidate))) {
            *temporary = candidate;
            detail::NoteRename(path, candidate);
            return FlushFolderOf(path);
        }
        if (errno != EEXIST)
            return Fail(errno);
    }
    return Fail(EEXIST);
}

bool MoveBack(const QString& temporary, const QString& path) {
    if (!RenameNoReplace(NativePath(temporary), NativePath(path)))
        return Fail(errno);
    detail::NoteRename(temporary, path);
    return FlushFolderOf(path);
}

std::vector<Leftover> ClaimLeftovers(const QString& folder) {
    std::vector<Leftover> leftovers;
    const QByteArray native = NativePath(folder);
    DIR* dir = native.isEmpty() ? nullptr : ::opendir(native.constData());
    if (!dir)
        return leftovers;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1) != 0)
            continue;
        Leftover leftover;
        const QString name = QFile::decodeName(entry->d_name);
        if (!IsTemporaryName(name, &leftover.kind))
            continue;
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        UniqueFd fd(::openat(dirFd, entry->d_name, O_WRONLY | flags));
        if (!fd.valid() && errno == EACCES)
            fd.reset(::openat(dirFd, entry->d_name, O_RDONLY | flags)); // removable, not writable
        struct stat st;
        // A run holds its own temporary file locked for as long as it lives.
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        leftover.path = JoinPath(folder, name);
        // Removed or replaced since it was listed: not the file that was claimed.
        if (!SameFile(fd.get(), NativePath(leftover.path)))
            continue;
        leftover.file = std::move(fd);
        leftovers.push_back(std::move(leftover));
    }
    ::closedir(dir);
    return leftovers;
}

bool RemoveLeftover(Leftover* leftover) {
    const bool removed = ::unlink(NativePath(leftover->path).constData()) == 0 || Fail(errno);
    leftover->file.reset();
    return removed;
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
        if ((err == ENOTSUP || err == EOPNOTSUPP) && OnlyPlainBits(attributes))
            return true;
        return Fail(err == EOPNOTSUPP ? ENOTSUP : err);
    }
    return true;
}

bool GetFileTime(int file, FileTimes* times) {
    struct stat st;
    if (::fstat(file, &st) != 0)
        return Fail(errno);
    *times = TimesOf(file, QByteArray(), st);
    return true;
}

bool SetFileTime(int file, const FileTimes& times) {
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

bool GetNamedFileState(const QString& path, FileState* state) {
    const QByteArray native = NativePath(path);
    struct stat st;
    if (native.isEmpty() || ::lstat(native.constData(), &st) != 0)
        return Fail(native.isEmpty() ? ENOENT : errno);
    *state = StateOf(st);
    return true;
}

bool IsReadOnlyHandle(int file) {
    struct stat st;
    return ::fstat(file, &st) == 0 && IsReadOnlyFile(file, st);
}

bool CarryExtendedAttributes(int from, int to) {
    std::vector<char> names(4096);
    ssize_t listed = ::flistxattr(from, names.data(), names.size());
    if (listed < 0 && errno == ERANGE) {
        listed = ::flistxattr(from, nullptr, 0);
        if (listed > 0) {
            names.resize(static_cast<size_t>(listed));
            listed = ::flistxattr(from, names.data(), names.size());
        }
    }
    bool accessListKept = true;
    std::vector<char> value;
    for (ssize_t at = 0; listed > 0 && at < listed;) {
        const char* name = names.data() + at;
        at += static_cast<ssize_t>(std::strlen(name)) + 1;
        const bool accessList = std::strcmp(name, kAccessListName) == 0;
        // Keshlor's own attributes are set for the new file by its maker.
        const bool carried =
            accessList ||
            (std::strncmp(name, "user.", 5) == 0 && std::strcmp(name, kDosAttribName) != 0 &&
             std::strncmp(name, kKeshlorAttributePrefix, sizeof kKeshlorAttributePrefix - 1) != 0);
        if (!carried)
            continue;
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size < 0)
            continue;
        value.resize(static_cast<size_t>(size) + 1);
        const ssize_t got = ::fgetxattr(from, name, value.data(), value.size());
        if (got < 0)
            continue;
        // Other attributes are the user's notes on the data; where they cannot
        // be kept, the data still is.
        if (::fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0) != 0 && accessList)
            accessListKept = false;
    }
    return accessListKept;
}

bool NextDataRange(int file, uint64_t from, uint64_t end, uint64_t* start, uint64_t* stop) {
    const off_t data = ::lseek(file, static_cast<off_t>(from), SEEK_DATA);
    if (data < 0) {
        // No data past `from` (ENXIO); a file system that cannot say has no holes.
        if (errno == ENXIO)
            return false;
        *start = from;
        *stop = end;
        return from < end;
    }
    if (static_cast<uint64_t>(data) >= end)
        return false;
    const off_t hole = ::lseek(file, data, SEEK_HOLE);
    *start = static_cast<uint64_t>(data);
    *stop = hole < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(hole), end);
    return true;
}

bool SeekTo(int file, uint64_t offset) {
    return ::lseek(file, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset) ||
           Fail(errno);
}

namespace detail {

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
}

bool Fail(int err) {
    SetLastErrorFromErrno(err);
    return false;
}

QString FolderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

FileKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISDIR(mode))
        return FileKind::Folder;
    if (S_ISLNK(mode))
        return FileKind::SymbolicLink;
    if (S_ISFIFO(mode))
        return FileKind::Fifo;
    if (S_ISSOCK(mode))
        return FileKind::Socket;
    return FileKind::Device;
}

uint32_t StoredBitsOf(char* text, ssize_t length) {
    if (length <= 0)
        return 0;
    text[length] = '\0';
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 16)) & kStoredAttributeMask;
}

uint32_t DosAttributes(uint32_t stored, mode_t mode, const char* name, DotNames dotNames) {
    uint32_t attributes = stored;
    if (dotNames == DotNames::System && name[0] == '.')
        attributes |= kAttrSystem;
    if (S_ISDIR(mode))
        attributes |= kAttrDirectory;
    if ((mode & S_IWUSR) == 0)
        attributes |= kAttrReadOnly;
    if (attributes == 0)
        attributes = kAttrNormal;
    return attributes;
}

bool IsReadOnlyFile(int fd, const struct stat& st) {
    if ((st.st_mode & S_IWUSR) == 0)
        return true;
    char text[32] = {};
    return (StoredBitsOf(text, fgetxattr(fd, kDosAttribName, text, sizeof text - 1)) &
            kAttrReadOnly) != 0;
}

bool RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without that kind of rename: a new link cannot replace anything.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    if (errno == EEXIST)
        return false;
    // Nor links (some network shares): look first, then rename.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

QString RandomPathIn(const QString& folder, const char* prefix) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[kTemporarySuffixLength];
    if (!GenerateRandom(random, sizeof random))
        std::memset(random, 0, sizeof random); // still unique: creation is exclusive
    QString name = QString::fromLatin1(prefix);
    for (const unsigned char byte : random)
        name += QLatin1Char(kAlphabet[byte % (sizeof kAlphabet - 1)]);
    return JoinPath(folder, name);
}

bool SameFile(int fd, const QByteArray& native) {
    struct stat held;
    struct stat named;
    return ::fstat(fd, &held) == 0 && ::lstat(native.constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool DeleteFaultOn() {
    errno = g_deleteFaultErrno;
    return g_deleteFault;
}

void NoteRename(const QString& from, const QString& to) {
    if (g_afterRename)
        g_afterRename(from, to);
}

} // namespace detail

namespace faults {

void FailWritesAfter(int64_t bytesAllowed, int error) {
    g_writeBudget = bytesAllowed;
    g_writeFaultErrno = error;
}

void FailReadsAfter(int64_t bytesAllowed, int error) {
    g_readBudget = bytesAllowed;
    g_readFaultErrno = error;
}

void FailFlushes(bool on, int error) {
    g_flushFault = on;
    g_flushFaultErrno = error;
}

void FailFolderFlushes(bool on, int error) {
    g_folderFlushFault = on;
    g_folderFlushFaultErrno = error;
}

void FailDeletes(bool on, int error) {
    g_deleteFault = on;
    g_deleteFaultErrno = error;
}

void RecordFolderFlushes(QStringList* folders) {
    g_flushedFolders = folders;
}

void BeforeTemporaryLock(std::function<void(const QString& path)> hook) {
    g_beforeTemporaryLock = std::move(hook);
}

void AfterRename(std::function<void(const QString& from, const QString& to)> hook) {
    g_afterRename = std::move(hook);
}

void Clear() {
    g_beforeTemporaryLock = {};
    g_afterRename = {};
    g_writeBudget = -1;
    g_readBudget = -1;
    g_flushFault = false;
    g_folderFlushFault = false;
    g_deleteFault = false;
    g_flushedFolders = nullptr;
}

} // namespace faults

} // namespace plat
