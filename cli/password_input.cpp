#include "cli/password_input.h"

#include "engine/key_context.h"
#include "engine/password_limit.h"
#include "platform/secure_memory.h"
#include "platform/unique_fd.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Appends without leaving the password behind in a buffer the array outgrew:
// a larger one is made and locked here, and the old one is zeroed.
void AppendSecret(QByteArray* bytes, const char* data, qsizetype count) {
    if (!bytes->isDetached() || bytes->size() + count >= bytes->capacity()) {
        QByteArray grown;
        grown.reserve(std::max<qsizetype>(2 * bytes->capacity(), bytes->size() + count + 256));
        plat::LockSecret(grown);
        grown.append(bytes->constData(), bytes->size());
        plat::ForgetSecret(bytes);
        *bytes = std::move(grown);
    }
    bytes->append(data, count);
}

} // namespace

bool DecodePassword(const QByteArray& bytes, QString* password, QString* problem) {
    // A leading byte order mark is kept: the content is the password, whole.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    plat::SecretText decoded(decoder.decode(bytes));
    if (decoder.hasError()) {
        *problem = QStringLiteral("the password is not valid UTF-8 text");
        return false;
    }
    if (decoded.get().contains(QChar::Null)) {
        *problem = QStringLiteral("the password holds a NUL character");
        return false;
    }
    if (decoded.get().size() > kMaxPasswordUnits) {
        *problem = QStringLiteral("the password is longer than %1 characters (UTF-16 code "
                                  "units), the most the program takes")
                       .arg(kMaxPasswordUnits);
        return false;
    }
    plat::ForgetSecret(password);
    // Its buffer, locked since it was decoded, is the password's now.
    *password = std::move(decoded.get());
    return true;
}

void DropFinalNewline(QByteArray* bytes) {
    if (bytes->endsWith("\r\n"))
        bytes->chop(2);
    else if (bytes->endsWith('\n'))
        bytes->chop(1);
}

bool ReadPasswordDescriptor(int fd, QByteArray* bytes, QString* problem) {
    plat::ForgetSecret(bytes);
    char block[4096];
    const plat::SecretGuard guardBlock(block, sizeof block);
    for (;;) {
        const ssize_t count = read(fd, block, sizeof block);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            *problem = ErrnoText(errno);
            plat::ForgetSecret(bytes);
            return false;
        }
        if (count == 0)
            break;
        if (bytes->size() + count > kPasswordInputLimit) {
            *problem = QStringLiteral("more than %1 bytes, too long for a password")
                           .arg(kPasswordInputLimit);
            plat::ForgetSecret(bytes);
            return false;
        }
        AppendSecret(bytes, block, count);
    }
    return true;
}

bool ReadPasswordFile(const QString& path, QByteArray* bytes, QString* problem,
                      bool* readableByOthers, FileIdentity* read) {
    *readableByOthers = false;
    const plat::UniqueFd file(open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        *problem = ErrnoText(errno);
        return false;
    }
    // Asked of the opened file, so that it is the one that was read.
    struct stat status;
    if (fstat(file.get(), &status) == 0) {
        *readableByOthers = (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
        if (read)
            *read = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
    }
    return ReadPasswordDescriptor(file.get(), bytes, problem);
}
