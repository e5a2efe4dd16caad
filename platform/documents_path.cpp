#include "documents_path.h"

#include <QDir>
#include <QStandardPaths>

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

} // namespace

QString QueryDocumentsPath() {
    const QString path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (path.isEmpty() || QDir::isRelativePath(path))
        return {};
    const QString clean = CleanAbsolute(path);
    // The root itself is what an empty documents path stands for.
    return clean == QLatin1String("/") ? QString() : clean;
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
