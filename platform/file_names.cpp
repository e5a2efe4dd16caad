#include "platform/file_names.h"

#include "platform/last_error.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <dirent.h>

namespace plat {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

// Whether `folder` holds an entry whose bytes differ from `bytes` but read
// as `name`. A folder that is not there holds nothing; one that cannot be
// read might hold such an entry.
bool HasLookAlike(const QByteArray& folder, const QString& name, const QByteArray& bytes) {
    DIR* dir = opendir(folder.isEmpty() ? "." : folder.constData());
    if (!dir)
        return errno != ENOENT && errno != ENOTDIR;
    bool found = false;
    while (const dirent* item = readdir(dir)) {
        const QByteArray raw(item->d_name);
        if (raw != bytes && QFile::decodeName(raw) == name) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

} // namespace

QString JoinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QByteArray JoinPath(const QByteArray& folder, const QByteArray& name) {
    if (folder.isEmpty() || folder.endsWith('/'))
        return folder + name;
    return folder + '/' + name;
}

bool IsFaithfulPath(const QString& path) {
    const QStringList parts = path.split(QLatin1Char('/'));
    QByteArray folder = path.startsWith(QLatin1Char('/')) ? QByteArray("/") : QByteArray();
    for (const QString& part : parts) {
        if (part.isEmpty())
            continue;
        const QByteArray bytes = QFile::encodeName(part);
        // Text that has no bytes of its own, such as a lone surrogate.
        if (QFile::decodeName(bytes) != part)
            return false;
        if (part.contains(QChar(kReplacement)) && HasLookAlike(folder, part, bytes))
            return false;
        folder = JoinPath(folder, bytes);
    }
    return true;
}

bool IsFaithfulArgument(const char* raw) {
    if (!raw)
        return false;
    const QByteArray bytes(raw);
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

void RefuseUnfaithfulName(const QString& shownName) {
    SetLastErrorWithDetail(
        kErrorNoUnicodeTranslation,
        QStringLiteral("\u201c%1\u201d: this name is not valid text in the system's character "
                       "encoding, so Keshlor cannot tell it from other names. Rename it first.")
            .arg(shownName));
}

} // namespace plat
