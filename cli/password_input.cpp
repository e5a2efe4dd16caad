#include "password_input.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool DecodePassword(const QByteArray& bytes, QString* password, QString* problem) {
    // A leading byte order mark is kept: the content is the password, whole.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError()) {
        *problem = QStringLiteral("the password is not valid UTF-8 text");
        return false;
    }
    if (decoded.contains(QChar::Null)) {
        *problem = QStringLiteral("the password holds a NUL character");
        return false;
    }
    *password = decoded;
    return true;
}

QByteArray WithoutFinalNewline(const QByteArray& bytes) {
    if (bytes.endsWith("\r\n"))
        return bytes.left(bytes.size() - 2);
    if (bytes.endsWith('\n'))
        return bytes.left(bytes.size() - 1);
    return bytes;
}

bool ReadPasswordDescriptor(int fd, QByteArray* bytes, QString* problem) {
    bytes->clear();
    char block[4096];
    for (;;) {
        const ssize_t count = read(fd, block, sizeof block);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            *problem = ErrnoText(errno);
            std::memset(block, 0, sizeof block);
            return false;
        }
        if (count == 0)
            break;
        bytes->append(block, count);
        if (bytes->size() > kPasswordInputLimit) {
            *problem = QStringLiteral("more than %1 bytes, too long for a password")
                           .arg(kPasswordInputLimit);
            ForgetBytes(bytes);
            std::memset(block, 0, sizeof block);
            return false;
        }
    }
    std::memset(block, 0, sizeof block);
    return true;
}

bool ReadPasswordFile(const QString& path, QByteArray* bytes, QString* problem) {
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *problem = ErrnoText(errno);
        return false;
    }
    const bool ok = ReadPasswordDescriptor(fd, bytes, problem);
    close(fd);
    return ok;
}

void ForgetBytes(QByteArray* bytes) {
    bytes->fill('\0');
    bytes->clear();
}
