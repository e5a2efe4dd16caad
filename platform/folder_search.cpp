#include "platform/folder_search.h"

#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/files_detail.h"
#include "platform/last_error.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <linux/types.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace plat {

namespace {

using detail::kDosAttribName;

// getxattrat(2) reads the attribute by the name relative to the open folder,
// sparing a walk of the whole path per file (Linux 6.13 and later; the number
// is the same on every architecture).
constexpr long kGetXattrAt = 464;
struct XattrArgs {
    __aligned_u64 value;
    __u32 size;
    __u32 flags;
};
bool g_noGetXattrAt = false;

// Listing a large folder reads the DOS bits beside a relative stat instead of
// going through GetFindData, which would also look up creation times the list
// never shows. `folder` is the folder's path, for the attribute read by the
// whole path where it must be.
uint32_t StoredAttributes(int folderFd, const char* name, const QByteArray& folder) {
    char text[32] = {};
    ssize_t n = -1;
    bool byPath = g_noGetXattrAt;
    if (!byPath) {
        XattrArgs args{reinterpret_cast<uintptr_t>(text), sizeof text - 1, 0};
        n = syscall(kGetXattrAt, folderFd, name, 0, kDosAttribName, &args, sizeof args);
        if (n < 0 && errno == ENOSYS)
            g_noGetXattrAt = true;
        // A filter that forbids the call answers with one of these.
        byPath = n < 0 && (errno == ENOSYS || errno == EPERM || errno == EINVAL);
    }
    if (byPath)
        n = getxattr(JoinPath(folder, QByteArray(name)).constData(), kDosAttribName, text,
                     sizeof text - 1);
    return detail::StoredBitsOf(text, n);
}

bool IsPlainAscii(const char* name) {
    for (const char* p = name; *p; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

bool SearchFolder(const QString& folder, std::vector<FolderEntry>* entries) {
    QByteArray path = QFile::encodeName(folder);
    if (path.isEmpty()) {
        SetLastErrorFromErrno(ENOENT);
        return false;
    }
    DIR* dir = opendir(path.constData());
    if (!dir) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    const int dirFd = dirfd(dir);

    while (const dirent* item = readdir(dir)) {
        const char* name = item->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        struct stat st;
        // A link is not offered: what it leads to may lie anywhere, and may change.
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const bool isFolder = S_ISDIR(st.st_mode);
        if (!isFolder && !S_ISREG(st.st_mode))
            continue;

        FolderEntry entry;
        entry.name = QFile::decodeName(name);
        if (!IsPlainAscii(name) && QFile::encodeName(entry.name) != QByteArray(name))
            continue;
        entry.attributes = detail::DosAttributes(StoredAttributes(dirFd, name, path), st.st_mode,
                                                 name, detail::DotNames::System);
        entry.size = isFolder ? 0 : static_cast<uint64_t>(st.st_size);
        entry.lastWrite = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        entries->push_back(std::move(entry));
    }
    closedir(dir);
    return true;
}

} // namespace plat
