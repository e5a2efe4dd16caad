#include "setup/home_files.h"

#include "platform/file_names.h"
#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace setup {

namespace {

// The folders from `base` down to `folder`, each as a full path; empty
// when `folder` is not below `base`.
QStringList FoldersOnTheWay(const QString& base, const QString& folder, bool* below) {
    const QString relative = QDir(base).relativeFilePath(QDir::cleanPath(folder));
    *below = relative != QLatin1String("..") && !relative.startsWith(QLatin1String("../")) &&
             !QDir::isAbsolutePath(relative);
    QStringList folders;
    if (!*below)
        return folders;
    QString current = QDir::cleanPath(base);
    for (const QString& part : relative.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        current = plat::JoinPath(current, part);
        folders << current;
    }
    return folders;
}

// 1 for a real folder, 0 for nothing there, -1 for anything else.
int FolderState(const QString& path) {
    struct stat info {};
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT ? 0 : -1;
    return S_ISDIR(info.st_mode) ? 1 : -1;
}

bool RenameNoReplace(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: the look and the rename are two steps.
    struct stat info {};
    return lstat(target.constData(), &info) != 0 && errno == ENOENT &&
           rename(source.constData(), target.constData()) == 0;
}

} // namespace

QString BlockedFolder(const QString& base, const QString& path) {
    bool below = false;
    const QStringList folders = FoldersOnTheWay(base, QFileInfo(path).path(), &below);
    if (!below)
        return QFileInfo(path).path();
    for (const QString& folder : folders) {
        const int state = FolderState(folder);
        if (state == 0)
            return {};
        if (state < 0)
            return folder;
    }
    return {};
}

bool MakeFolders(const QString& base, const QString& folder, QStringList* made) {
    // The base is the user's to choose (an XDG variable, the home): taken as it is.
    if (base.isEmpty() || (!QFileInfo(base).isDir() && !QDir().mkpath(base)))
        return false;
    bool below = false;
    const QStringList folders = FoldersOnTheWay(base, folder, &below);
    if (!below)
        return false;
    for (const QString& path : folders) {
        int state = FolderState(path);
        if (state == 0) {
            if (mkdir(QFile::encodeName(path).constData(), 0755) == 0) {
                made->append(path);
                continue;
            }
            state = errno == EEXIST ? FolderState(path) : -1;
        }
        if (state < 0)
            return false;
    }
    return true;
}

EntryKind KindOf(const QString& path) {
    struct stat info {};
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT ? EntryKind::Missing : EntryKind::Other;
    return S_ISREG(info.st_mode) ? EntryKind::File : EntryKind::Other;
}

bool WriteReplacing(const QString& path, const QByteArray& content, bool executable) {
    return plat::ReplaceFile(path, content, executable ? 0755 : 0644);
}

QString SavedName(const QString& path) {
    return path + QStringLiteral(".keshlor-saved");
}

bool KeepAside(const QString& path) {
    return RenameNoReplace(path, SavedName(path));
}

bool PutBack(const QString& path) {
    return RenameNoReplace(SavedName(path), path);
}

} // namespace setup
