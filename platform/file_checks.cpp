#include "platform/file_checks.h"

#include "platform/files.h"
#include "platform/files_detail.h"
#include "platform/last_error.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace plat {

bool CheckNamedFile(const QString& path, bool toEncrypt) {
    const QString name = QStringLiteral("\u201c%1\u201d").arg(path);
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        const int err = errno;
        const uint32_t code = Win32FromErrno(err);
        if (err == ENOENT || err == ENOTDIR)
            SetLastErrorWithDetail(code, QStringLiteral("%1 does not exist.").arg(name));
        else if (err == EACCES)
            SetLastErrorWithDetail(
                code, QStringLiteral("%1 lies in a folder Keshlor may not look into.").arg(name));
        else
            SetLastError(code);
        return false;
    }
    const FileKind kind = detail::KindOfMode(st.st_mode);
    if (kind != FileKind::Regular) {
        RefuseFileKind(kind, path);
        return false;
    }
    if (toEncrypt && st.st_nlink > 1) {
        SetLastErrorWithDetail(
            kErrorTooManyLinks,
            QStringLiteral("%1 has other names (hard links), which would keep its data after it "
                           "is encrypted and removed, so Keshlor leaves it as it is.")
                .arg(name));
        return false;
    }
    SetLastError(kErrorSuccess);
    return true;
}

} // namespace plat
