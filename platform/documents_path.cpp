#include "platform/documents_path.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

namespace plat {

namespace {

QString CleanAbsolute(const QString& path) {
    if (path.isEmpty())
        return {};
    QString clean = QDir::cleanPath(path);
    if (clean == QLatin1String("/"))
        return clean;
    while (clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    return clean;
}

bool IsSameFolder(const QString& a, const QString& b) {
    if (a == b)
        return true;
    const QString realA = QFileInfo(a).canonicalFilePath();
    return !realA.isEmpty() && realA == QFileInfo(b).canonicalFilePath();
}

} // namespace

QString QueryDocumentsPath() {
    const QString path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (path.isEmpty() || QDir::isRelativePath(path))
        return {};
    const QString clean = CleanAbsolute(path);
    // The root itself is what an empty documents path stands for.
    if (clean == QLatin1String("/"))
        return {};
    // Desktops name the home folder when ~/Documents is missing, and a batch
    // there would encrypt and wipe the user's own files. A folder that cannot
    // be made lists nothing, which is better than home.
    const QString home = CleanAbsolute(QDir::homePath());
    if (home.isEmpty() || home == QLatin1String("/") || !IsSameFolder(clean, home))
        return clean;
    const QString documents = home + QStringLiteral("/Documents");
    ::mkdir(QFile::encodeName(documents).constData(), 0700);
    return documents;
}

QString DocumentsPathOnCard(const QString& documentsPath, const QString& homePath) {
    const QString documents = CleanAbsolute(documentsPath);
    const QString home = CleanAbsolute(homePath);
    if (documents.isEmpty() || documents == QLatin1String("/") || documents == home)
        return {};
    if (!home.isEmpty() && home != QLatin1String("/") &&
        documents.startsWith(home + QLatin1Char('/')))
        return documents.mid(home.size() + 1);
    return documents.mid(1);
}

} // namespace plat
