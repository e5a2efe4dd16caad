#include "cli/standard_streams.h"

#include "engine/wipe.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/unique_fd.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t kPiece = 64 * 1024;

QString SystemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes all of `data`; false with errno set when the descriptor stops taking it.
bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR && !plat::InterruptRequested())
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies `from` to its end into `to`. A failure names the side that failed.
bool Copy(int from, int to, const QString& fromName, const QString& toName, QString* problem) {
    char piece[kPiece];
    for (;;) {
        if (plat::InterruptRequested()) {
            problem->clear();
            return false;
        }
        const ssize_t count = read(from, piece, sizeof piece);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            *problem = QStringLiteral("cannot read %1: %2").arg(fromName, SystemText(errno));
            return false;
        }
        if (count == 0)
            return true;
        if (!WriteAll(to, piece, static_cast<size_t>(count))) {
            if (plat::InterruptRequested())
                problem->clear();
            else
                *problem = QStringLiteral("cannot write %1: %2").arg(toName, SystemText(errno));
            return false;
        }
    }
}

} // namespace

StagingFolder::~StagingFolder() {
    if (path.isEmpty())
        return;
    const QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString file = dir.filePath(name);
        plat::TemporaryKind kind = plat::TemporaryKind::Container;
        // Plain data, also a run's own temporary one, is overwritten before it goes.
        if (plainFiles.contains(file) ||
            (plat::IsTemporaryName(name, &kind) && kind == plat::TemporaryKind::Plain))
            WipeFileData(file);
        ::unlink(QFile::encodeName(file).constData());
    }
    ::rmdir(QFile::encodeName(path).constData());
}

bool CreateStagingFolder(StagingFolder* folder, QString* problem) {
    // QDir::tempPath is $TMPDIR when it is set, else /tmp.
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/ksr-XXXXXX"));
    if (!mkdtemp(pattern.data())) {
        *problem = QStringLiteral("cannot make a temporary folder in %1: %2")
                       .arg(QDir::tempPath(), SystemText(errno));
        return false;
    }
    folder->path = QFile::decodeName(pattern);
    return true;
}

bool StageInput(int fd, const QString& path, QString* problem) {
    const plat::UniqueFd file(::open(QFile::encodeName(path).constData(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file.valid()) {
        *problem = QStringLiteral("cannot create %1: %2").arg(path, SystemText(errno));
        return false;
    }
    return Copy(fd, file.get(), QStringLiteral("standard input"), path, problem);
}

bool SendFile(const QString& path, int fd, QString* problem) {
    const plat::UniqueFd file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.valid()) {
        *problem = QStringLiteral("cannot open %1: %2").arg(path, SystemText(errno));
        return false;
    }
    return Copy(file.get(), fd, path, QStringLiteral("standard output"), problem);
}
