#include "cli/standard_streams.h"

#include "engine/wipe.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/secure_memory.h"
#include "platform/unique_fd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Held data grows a block at a time, so that a small file holds little.
constexpr size_t kBlockSize = 1u << 20;
// Past the budget, data goes out in writes of this size rather than in the
// engine's pieces of 4 KiB: as much as a pipe holds.
constexpr size_t kGatherSize = 64u << 10;

// Every path that some process of ours has open, or works in.
QStringList PathsInUse() {
    QStringList paths;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid.toInt() <= 0)
            continue;
        const QString cwd = QFile::symLinkTarget(proc.filePath(pid + QStringLiteral("/cwd")));
        if (!cwd.isEmpty())
            paths << cwd;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QString& fd :
             fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            if (!target.isEmpty())
                paths << target;
        }
    }
    return paths;
}

// What an earlier version staged there: its input or output as plain data,
// or the engine's temporary files.
bool HeldPlainData(const QString& name) {
    plat::TemporaryKind kind = plat::TemporaryKind::Container;
    return name == QLatin1String("input") || name == QLatin1String("output") ||
           (plat::IsTemporaryName(name, &kind) && kind == plat::TemporaryKind::Plain);
}

// Whether the folder holds only what ksr staged there, so that a folder of
// another program that happens to have such a name is left alone.
bool StagedByKsr(const QString& folder) {
    static const QStringList kStaged = {QStringLiteral("input"), QStringLiteral("output"),
                                        QStringLiteral("input.ksr"), QStringLiteral("output.ksr")};
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    return std::all_of(entries.begin(), entries.end(), [](const QFileInfo& entry) {
        return entry.isFile() && !entry.isSymLink() &&
               (kStaged.contains(entry.fileName()) || plat::IsTemporaryName(entry.fileName()));
    });
}

void RemoveStagingFolder(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder);
    plat::UniqueFd opened(
        ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    DIR* entries = opened.valid() ? fdopendir(opened.get()) : nullptr;
    if (!entries)
        return;
    // The listing owns the descriptor now, and closes it.
    const int dir = opened.release();
    while (const dirent* entry = readdir(entries)) {
        const QString name = QFile::decodeName(entry->d_name);
        struct stat status;
        if (name == QLatin1String(".") || name == QLatin1String("..") ||
            fstatat(dir, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode))
            continue;
        if (HeldPlainData(name))
            WipeFileData(plat::JoinPath(folder, name));
        unlinkat(dir, entry->d_name, 0);
    }
    closedir(entries);
    ::rmdir(native.constData());
}

} // namespace

HeldOutput::HeldOutput(int fd, size_t budget) : out_(DescriptorOutput(fd)), budget_(budget) {}

HeldOutput::~HeldOutput() {
    ForgetHeld();
}

OutputPort HeldOutput::Port() {
    return [this](const uint8_t* data, uint32_t size) { return Take(data, size); };
}

bool HeldOutput::Take(const uint8_t* data, uint32_t size) {
    if (!released_ && held_ + size > budget_ && !ReleaseHeld())
        return false;
    while (size > 0) {
        const size_t capacity = released_ ? kGatherSize : kBlockSize;
        if (blocks_.empty() || blocks_.back().used == capacity) {
            // Once data flows, one block gathers it, to go out a block at a time.
            if (released_ && !blocks_.empty()) {
                if (!WriteOut(blocks_.back().data, static_cast<uint32_t>(blocks_.back().used)))
                    return false;
                blocks_.back().used = 0;
                continue;
            }
            void* memory = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            // Without memory to hold it in, the data goes out now.
            if (memory == MAP_FAILED)
                return ReleaseHeld() && WriteOut(data, size);
            plat::LockSecret(memory, kBlockSize);
            blocks_.push_back({static_cast<uint8_t*>(memory), 0});
        }
        Block& block = blocks_.back();
        const size_t piece = std::min<size_t>(size, capacity - block.used);
        std::memcpy(block.data + block.used, data, piece);
        block.used += piece;
        if (!released_)
            held_ += piece;
        data += piece;
        size -= static_cast<uint32_t>(piece);
    }
    return true;
}

bool HeldOutput::WriteOut(const uint8_t* data, uint32_t size) {
    if (out_(data, size))
        return true;
    readerGone_ = readerGone_ || errno == EPIPE;
    return false;
}

bool HeldOutput::ReleaseHeld() {
    released_ = true;
    bool written = true;
    for (const Block& block : blocks_) {
        if (written && !WriteOut(block.data, static_cast<uint32_t>(block.used)))
            written = false;
    }
    ForgetHeld();
    return written;
}

bool HeldOutput::Finish() {
    return ReleaseHeld();
}

void HeldOutput::ForgetHeld() {
    // A gathering block keeps what it held before its last fill: all of it goes.
    for (const Block& block : blocks_) {
        plat::SecureZero(block.data, kBlockSize);
        plat::UnlockSecret(block.data, kBlockSize);
        munmap(block.data, kBlockSize);
    }
    blocks_.clear();
    held_ = 0;
}

void RemoveStaleStagingFolders() {
    // The names mkdtemp gave them.
    static const QRegularExpression staged(QStringLiteral("^ksr-[A-Za-z0-9]{6}$"));
    const QString temp = QDir::tempPath();
    QStringList stale;
    const QDir dir(temp);
    for (const QString& name :
         dir.entryList({QStringLiteral("ksr-*")}, QDir::Dirs | QDir::NoSymLinks | QDir::Hidden)) {
        struct stat status;
        const QString path = dir.filePath(name);
        if (staged.match(name).hasMatch() &&
            lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
            status.st_uid == geteuid() && StagedByKsr(path))
            stale << path;
    }
    if (stale.isEmpty())
        return;
    const QStringList inUse = PathsInUse();
    for (const QString& folder : stale) {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        const bool held = std::any_of(inUse.begin(), inUse.end(), [&](const QString& path) {
            return path == canonical || path.startsWith(canonical + QLatin1Char('/'));
        });
        if (!held)
            RemoveStagingFolder(folder);
    }
}
