#include "platform/path_limits.h"

#include "platform/last_error.h"

#include <QFile>

namespace plat {

namespace {

constexpr qsizetype kLongestShownPath = 300;

bool NamesFit(const QByteArray& path, int lastNameLimit) {
    qsizetype start = 0;
    while (start <= path.size()) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        const int limit = end == path.size() ? lastNameLimit : kLongestNameBytes;
        if (end - start > limit)
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

int PathBytes(const QString& text) {
    return static_cast<int>(QFile::encodeName(text).size());
}

bool PathFits(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    return bytes.size() <= kLongestPathBytes && NamesFit(bytes, kLongestNameBytes);
}

bool ContainerPathFits(const QString& plainPath) {
    const QByteArray bytes = QFile::encodeName(plainPath);
    return bytes.size() + kContainerExtensionBytes <= kLongestPathBytes &&
           NamesFit(bytes, kLongestPlainNameBytes);
}

void RefuseLongPath(const QString& path, bool forContainer) {
    // Thousands of characters would fill the screen: the start and the end
    // say which file it is.
    const QString shown = path.size() <= kLongestShownPath
                              ? path
                              : path.left(kLongestShownPath / 2) + QStringLiteral("\u2026") +
                                    path.right(kLongestShownPath / 2);
    const QString name = QStringLiteral("\u201c%1\u201d").arg(shown);
    const QString limits = QStringLiteral("a path may have at most %1 bytes and a name %2")
                               .arg(kLongestPathBytes)
                               .arg(kLongestNameBytes);
    SetLastErrorWithDetail(
        kErrorFilenameExcedRange,
        forContainer
            ? QStringLiteral("%1 is too long to take the extension .ksr (%2).").arg(name, limits)
            : QStringLiteral("%1 is too long (%2).").arg(name, limits));
}

} // namespace plat
