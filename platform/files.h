#pragma once
// File services with the semantics the engine was written against: exclusive
// opens (share mode 0), DOS attribute bits, three file times, and Win32 error
// codes in the per-thread last error.
#include <QString>
#include <cstdint>

namespace plat {

using FileHandle = int;
inline constexpr FileHandle kInvalidHandle = -1;

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

// Bits kept in the user.DOSATTRIB extended attribute (directory comes from stat).
inline constexpr uint32_t kStoredAttributeMask = 0x37FF & ~kAttrDirectory;

enum class Access { Read, Write };
enum class Disposition { OpenExisting, CreateNew, TruncateExisting };

// Opens with an exclusive lock: a file another descriptor holds gives 32.
// Opening for writing refuses a read-only file with 5, as root too.
// CreateNew applies `attributes` to the new file; TruncateExisting replaces the
// stored bits with them.
FileHandle CreateFile(const QString& path, Access access, Disposition disposition,
                      uint32_t attributes = kAttrArchive);
bool CloseHandle(FileHandle file);

// A short read (including 0 bytes) means end of file, not failure.
bool ReadFile(FileHandle file, void* buffer, uint32_t toRead, uint32_t* bytesRead);
// Writes as much as the system takes. When the system stops taking bytes part
// way, returns true with *bytesWritten < toWrite and the reason in the last
// error, so callers must compare the count.
bool WriteFile(FileHandle file, const void* buffer, uint32_t toWrite, uint32_t* bytesWritten);
// Pushes written data to the disk.
bool FlushFile(FileHandle file);
// Makes a created or deleted name in `path`'s folder durable.
bool FlushFolderOf(const QString& path);
bool SeekToStart(FileHandle file);
bool GetFileSize(FileHandle file, uint64_t* size);

// Refuses a read-only file with 5, as root too.
bool DeleteFile(const QString& path);

// Copies the data, the DOS attributes and the last-write time of `source` to
// `target`; the copy's creation and last-access times are those of its making.
// The source is held exclusively while it is read. An existing target is
// refused with 80 when `failIfExists`, and otherwise replaced unless it is
// read-only or a folder (5) or held elsewhere (32). The data reaches the disk
// before it takes the target's name, so a failed copy leaves an earlier
// target as it was and no partial file. A file copied onto itself, under any
// of its names, fails with 32 and is left alone.
bool CopyFile(const QString& source, const QString& target, bool failIfExists);

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
bool GetFileTime(FileHandle file, FileTimes* times);
bool SetFileTime(FileHandle file, const FileTimes& times);
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
// a negative value turns the fault off. FlushFile and DeleteFile fail with
// `error` while their faults are on.
namespace faults {
void FailWritesAfter(int64_t bytesAllowed, int error);
void FailFlushes(bool on, int error);
void FailDeletes(bool on, int error);
void Clear();
} // namespace faults

} // namespace plat
