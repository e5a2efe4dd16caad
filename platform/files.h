#pragma once
// File services with the semantics the engine was written against: exclusive
// opens (share mode 0), DOS attribute bits, three file times, and Win32 error
// codes in the per-thread last error.
#include "platform/unique_fd.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

namespace plat {

inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
inline constexpr uint32_t kAttrReadOnly = 0x1;
inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrSystem = 0x4;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrInRom = 0x40;
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kAttrTemporary = 0x100;
inline constexpr uint32_t kAttrRomStaticRef = 0x1000;
inline constexpr uint32_t kAttrRomModule = 0x2000;

// A file with any of these is never replaced or deleted, and a folder with
// any of them is not offered.
inline constexpr uint32_t kProtectiveAttributes =
    kAttrReadOnly | kAttrSystem | kAttrInRom | kAttrTemporary | kAttrRomStaticRef | kAttrRomModule;

// Bits kept in the user.DOSATTRIB extended attribute (directory comes from stat).
inline constexpr uint32_t kStoredAttributeMask = 0x37FF & ~kAttrDirectory;

enum class Access { Read, Write };
enum class Disposition { OpenExisting, CreateNew, TruncateExisting };

// Opens with an exclusive lock: a file another descriptor holds gives 32.
// Opening for writing refuses a read-only file with 5, as root too. Only a
// regular file is opened: a symbolic link in the last component (681), a
// folder (5), a device, FIFO or socket (222) are refused by what the open
// descriptor is, with a detail naming the file (LastErrorDetail), and a FIFO
// or device never blocks the open. CreateNew applies `attributes` to the new
// file; TruncateExisting replaces the stored bits with them. Descriptors the
// functions below take are borrowed: the caller's UniqueFd keeps owning them.
UniqueFd CreateFile(const QString& path, Access access, Disposition disposition,
                    uint32_t attributes = kAttrArchive);
// Gives up the exclusive hold of an open file, as the process must before it
// opens the same file again.
bool UnlockFile(int file);

// A short read (including 0 bytes) means end of file, not failure.
bool ReadFile(int file, void* buffer, uint32_t toRead, uint32_t* bytesRead);
// WriteAll (write_all.h) with the last error set. When the injected fault
// below stops taking bytes part way, returns true with *bytesWritten < toWrite
// and the reason in the last error, so callers must compare the count.
bool WriteFile(int file, const void* buffer, uint32_t toWrite, uint32_t* bytesWritten);
// Pushes written data to the disk.
bool FlushFile(int file);
// Makes a created or deleted name in `path`'s folder durable.
bool FlushFolderOf(const QString& path);
bool SeekToStart(int file);
bool SeekTo(int file, uint64_t offset);
// The next range of `file` below `end` that holds data, from `from` on:
// false when only holes are left. Storage that cannot tell has no holes.
bool NextDataRange(int file, uint64_t from, uint64_t end, uint64_t* start, uint64_t* stop);
bool GetFileSize(int file, uint64_t* size);

// Refuses a read-only file with 5, as root too.
bool DeleteFile(const QString& path);

struct HeldSource;
struct Replacement;

// Copies the data, the permission bits, the DOS attributes, the access ACL
// and user attributes, and the last-write time of `source` to `target`; the
// copy's creation and last-access times are those of its making, its owner
// the copier, its group the source's where the copier may give it (else
// without group permissions). The source is held exclusively while it is read. An
// existing target is refused with 80 when `failIfExists`, and otherwise
// replaced unless it is read-only or a folder (5), held elsewhere (32), or
// not a regular file. The copy is a Replacement (below), so a failed copy
// leaves an earlier target as it was and no partial file, and a copy that
// succeeded is on the disk under its name. A file copied onto itself, under
// any of its names, fails with 32 and is left alone. With `held`, the
// descriptor the source was read through stays open there, with the source's
// state when it was opened, for a caller that removes the source next. With
// `replaced`, an earlier target the copy replaced is held there (its
// `existing` and `replacedAt`) for the caller to dispose of; else it is deleted.
bool CopyFile(const QString& source, const QString& target, bool failIfExists,
              HeldSource* held = nullptr, Replacement* replaced = nullptr);
// The rest of `in` appended to `out`, through ReadFile and WriteFile: the data
// of every copy Keshlor makes.
bool CopyData(int in, int out);

// What a path names, without following a symbolic link in its last component.
enum class FileKind { Missing, Regular, Folder, SymbolicLink, Device, Fifo, Socket };
FileKind GetFileKind(const QString& path);
// Sets the last error and a detail naming `path` for a `kind` that Keshlor
// does not read or write: 681 for a link, 5 for a folder, 222 for a device,
// FIFO or socket.
void RefuseFileKind(FileKind kind, const QString& path);

// What is needed to carry a file's permissions over and to tell whether it
// changed while it was open.
struct FileState {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t links = 0;
    uint64_t size = 0;
    int64_t lastWrite = 0;
    int64_t lastChange = 0; // status change: any write or metadata change
    uint32_t mode = 0;      // the permission bits
    uint32_t owner = 0;
    uint32_t group = 0;
};
bool GetFileState(int file, FileState* state);
// The state of what `path` names, without following a final link.
bool GetNamedFileState(const QString& path, FileState* state);
// A source a run read, with the descriptor it read through, kept open until
// the source is gone so that its name can be proven to still hold it.
struct HeldSource {
    UniqueFd file;
    FileState opened; // as it was when opened
};
// Whether the open file is read-only here (no owner write bit, or the DOS bit).
bool IsReadOnlyHandle(int file);
// Gives `to` the access ACL and the user attributes of `from`, but not
// Keshlor's own (the DOS bits, the kept creation time), which their maker
// sets. False when `from` has an access ACL that `to`'s storage cannot keep.
bool CarryExtendedAttributes(int from, int to);
// Whether anything wrote to or changed the file between the two states.
bool FileChanged(const FileState& before, const FileState& after);
// The permission bits of a file made from one with `mode`: the same bits, but
// the owner always keeps read and write (without the write bit the file
// would be read-only here, and nothing could remove it).
uint32_t CarriedMode(uint32_t mode);

// A target written under a temporary name in its own folder (".keshlor-…",
// created exclusively with mode 0600 and held with a lock for the whole run)
// and given the target's name only once it is complete, so an earlier file of
// that name stays as it was until then, and a crash leaves it whole.
enum class TemporaryKind {
    Plain,     // plain data: removed as plain files are (wiped when wiping is on)
    Container, // ciphertext: simply deleted
};
struct Replacement {
    UniqueFd file;     // the temporary file, for the caller to write
    QString path;      // the name it takes
    QString temporary; // where it lies until then
    TemporaryKind kind = TemporaryKind::Plain;
    UniqueFd existing; // the earlier file of that name, held until replaced
    bool replaceExisting = false;
    // Set before the commit: the replaced file stays held in `existing` for the
    // caller to dispose of, at `replacedAt` (empty when it has no name left).
    bool keepReplaced = false;
    QString replacedAt;
    bool attributesStored = true; // false when the file system keeps no extended attributes
    bool accessListKept = true;   // false when the source's ACL could not be given to it
    uint64_t written = 0;         // bytes written through WriteReplacement
    uint64_t writeBackFrom = 0;   // where the disk's write-back has not been started yet
    // Whatever holds the name at the commit is replaced, unheld (ReplaceFile).
    bool overwrite = false;
};
// Creates the temporary file with `attributes`. With `replaceExisting` an
// earlier file of the name is held for writing (refused as CreateFile refuses
// it: read-only, held elsewhere, not a regular file); without it an existing
// name fails with 80, now or when the name is taken.
bool CreateReplacement(const QString& path, TemporaryKind kind, uint32_t attributes,
                       bool replaceExisting, Replacement* replacement);
// Gives the file `mode` and, where the process may, `owner`'s owner and
// group, and the access ACL and user attributes of `extendedFrom`; flushes
// it, puts it in place of the target name and flushes the folder. A group or
// ACL that cannot be given never leaves the file more open than its source:
// the group's bits (or the group's and others') are cleared instead. True
// when the file is on the disk under its name (and closed); false, with the
// earlier file of the name back in place, otherwise.
bool CommitReplacement(Replacement* replacement, uint32_t mode, const FileState* owner,
                       int extendedFrom = -1);
// WriteFile to the temporary file, which starts the disk's write-back of
// every few MiB as they complete, so that the flush when the file is committed
// waits for little more than the last of them.
bool WriteReplacement(Replacement* replacement, const void* buffer, uint32_t toWrite,
                      uint32_t* bytesWritten);
// Closes the temporary file, leaving it where it is for the caller to remove.
void ReleaseReplacement(Replacement* replacement);
// Closes and deletes the temporary file.
void DiscardReplacement(Replacement* replacement);
// A file of Keshlor's own (a launcher, an installed program) written anew
// under `path`: `fill` writes the temporary file of a Replacement, which is
// committed as above with `mode` and, where given, `owner`'s owner and group.
// Whatever holds the name until then (a file of any mode, or a link, which
// is replaced, not followed) stays as it was and is replaced in one step; a
// failure leaves it so, with no temporary file behind.
bool ReplaceFile(const QString& path, uint32_t mode, const FileState* owner,
                 const std::function<bool(int file)>& fill);
bool ReplaceFile(const QString& path, const QByteArray& content, uint32_t mode);

// Whether `name` is one of the temporary names above, and of which kind.
bool IsTemporaryName(const QString& name, TemporaryKind* kind = nullptr);
// Moves a file out of its name to a new temporary name of `kind` in the same
// folder, without replacing anything, and flushes the folder. Fills
// `temporary` with the new path.
bool MoveAside(const QString& path, TemporaryKind kind, QString* temporary);
// Gives a file moved aside its name back, unless that name was taken since.
bool MoveBack(const QString& temporary, const QString& path);

// A temporary file that no run holds: the debris of a run that crashed.
struct Leftover {
    UniqueFd file; // opened for writing where possible, and held
    QString path;
    TemporaryKind kind = TemporaryKind::Plain;
};
// Every such file in `folder`, each held so that no other run takes it.
std::vector<Leftover> ClaimLeftovers(const QString& folder);
// Deletes a claimed leftover and closes it.
bool RemoveLeftover(Leftover* leftover);

// kInvalidAttributes (and last error 2 or 3) when the path does not exist.
uint32_t GetFileAttributes(const QString& path);
// Fails with 50 where the file system keeps no extended attributes.
bool SetFileAttributes(const QString& path, uint32_t attributes);

// Times as nanoseconds since the Unix epoch.
struct FileTimes {
    int64_t creation = 0;
    int64_t lastAccess = 0;
    int64_t lastWrite = 0;
};
bool GetFileTime(int file, FileTimes* times);
bool SetFileTime(int file, const FileTimes& times);
bool GetFileTimesByPath(const QString& path, FileTimes* times);

struct FindData {
    QString name;
    uint32_t attributes = 0;
    uint64_t size = 0;
    FileTimes times;
};
bool GetFindData(const QString& path, FindData* data);

// Fills with bytes from getrandom(2).
bool GenerateRandom(void* buffer, size_t length);

// Fault injection for tests. Writes through WriteFile stop being taken once
// `bytesAllowed` more bytes have gone out, with `error` (an errno value);
// a negative value turns the fault off. A ReadFile that would take more
// than `bytesAllowed` more bytes fails with `error`. FlushFile, FlushFolderOf and
// DeleteFile fail with `error` while their faults are on. Each folder that
// FlushFolderOf did sync is added to the list given to RecordFolderFlushes
// (null stops the record). `hook` runs with each new temporary file's path
// between its creation and its lock, where another run clearing leftovers
// could come in. `AfterRename` is told of every rename of a file of Keshlor's
// own making or taking (off a name, back, into place).
namespace faults {
void FailWritesAfter(int64_t bytesAllowed, int error);
void FailReadsAfter(int64_t bytesAllowed, int error);
void FailFlushes(bool on, int error);
void FailFolderFlushes(bool on, int error);
void FailDeletes(bool on, int error);
void RecordFolderFlushes(QStringList* folders);
void BeforeTemporaryLock(std::function<void(const QString& path)> hook);
void AfterRename(std::function<void(const QString& from, const QString& to)> hook);
void Clear();
} // namespace faults

} // namespace plat
