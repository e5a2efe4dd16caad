#include "temp_folder.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace testing_files {

QString TempFolder::Write(const QString& name, const QByteArray& content) const {
    const QString full = path(name);
    QFile file(full);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return full;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Exists(const QString& path) {
    return QFileInfo::exists(path);
}

QByteArray NoiseBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.generate() & 0xFF);
    return bytes;
}

QByteArray TextBytes(qsizetype size) {
    static const QByteArray words[] = {"keshlor ", "container ", "password ", "folder ",
                                       "storage ", "plain ",     "file\n",    "deflate "};
    QByteArray text;
    text.reserve(size);
    QRandomGenerator generator(7);
    while (text.size() < size)
        text += words[generator.bounded(8)];
    text.truncate(size);
    return text;
}

QString VectorsFolder() {
    return QStringLiteral(KESHLOR_VECTORS_DIR);
}

} // namespace testing_files
