#include "setup/running_copies.h"

#include "platform/file_names.h"
#include "platform/instance_channel.h"
#include "platform/unique_fd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace setup {

namespace {

constexpr char kChannelPrefix[] = "KESHLOR-";

// A uid in decimal, as a folder or channel name gives it.
bool ParseUid(const QByteArray& digits, uid_t* uid) {
    if (digits.isEmpty() || digits.size() > 10)
        return false;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok);
    if (!ok || value > static_cast<uid_t>(-1))
        return false;
    *uid = static_cast<uid_t>(value);
    return true;
}

std::vector<QByteArray> FolderEntries(const QString& folder) {
    std::vector<QByteArray> names;
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    return names;
}

enum class Holder { User, Someone, Gone, Unknown };

// Who listens on the socket, without asking it anything: the kernel gives
// the listener's credentials to whoever connects.
Holder ProbeHolder(const QString& path, uid_t owner, pid_t* listener) {
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(encoded.size()) >= sizeof(address.sun_path))
        return Holder::Gone;
    std::memcpy(address.sun_path, encoded.constData(), static_cast<size_t>(encoded.size()));
    const plat::UniqueFd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socketFd.valid())
        return Holder::Unknown;
    const int fd = socketFd.get();
    Holder holder = Holder::Unknown;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        ucred credentials{};
        socklen_t length = sizeof(credentials);
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) {
            holder = credentials.uid == owner ? Holder::User : Holder::Someone;
            *listener = credentials.pid;
        }
    } else if (errno == ECONNREFUSED || errno == ENOENT) {
        holder = Holder::Gone;
    }
    // EAGAIN: a copy that takes no connections just now; it still counts.
    return holder;
}

// The program file a process runs, as the kernel names it; empty when it
// cannot be read.
QString ExecutableOf(pid_t pid) {
    if (pid <= 0)
        return {};
    char target[4096];
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t n = readlink(link.constData(), target, sizeof(target));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(target))
        return {};
    QByteArray path(target, n);
    // A program file replaced while it runs keeps its name, so its copy counts.
    const QByteArray deleted = " (deleted)";
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return QFile::decodeName(path);
}

// `program` as /proc names it: its folder without links.
QString KernelName(const QString& program) {
    const QFileInfo file(program);
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(file.absoluteFilePath())
                            : plat::JoinPath(folder, file.fileName());
}

void AddFolder(std::vector<RuntimeFolder>* folders, const QString& path, uid_t owner) {
    const QString clean = QDir::cleanPath(path);
    for (const RuntimeFolder& folder : *folders) {
        if (folder.path == clean)
            return;
    }
    folders->push_back({clean, owner});
}

} // namespace

bool ParseSocketFileName(const QByteArray& fileName, uid_t owner, const CopyFilter& filter,
                         RunningCopy* copy) {
    if (!fileName.startsWith(kChannelPrefix) || !fileName.endsWith(kInstanceSocketSuffix))
        return false;
    const QByteArray name = fileName.chopped(sizeof(kInstanceSocketSuffix) - 1);
    const qsizetype start = sizeof(kChannelPrefix) - 1;
    qsizetype end = start;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9')
        ++end;
    uid_t uid = 0;
    if (!ParseUid(name.mid(start, end - start), &uid) || uid != owner)
        return false;
    // Nothing after the uid, or a dash and the instance.
    if (end < name.size() && (name[end] != '-' || end + 1 == name.size()))
        return false;
    if (!filter.instance.isEmpty() && name != InstanceChannelName(uid, filter.instance))
        return false;
    if (filter.onlyUser && *filter.onlyUser != uid)
        return false;
    copy->channel = name;
    copy->owner = uid;
    return true;
}

std::vector<RuntimeFolder> UserRuntimeFolders(const QStringList& userBases,
                                              const QStringList& tempBases) {
    std::vector<RuntimeFolder> folders;
    const auto look = [&folders](const QString& base, const QByteArray& prefix) {
        for (const QByteArray& entry : FolderEntries(base)) {
            uid_t uid = 0;
            if (!entry.startsWith(prefix) || !ParseUid(entry.mid(prefix.size()), &uid))
                continue;
            const QString path = plat::JoinPath(base, QFile::decodeName(entry));
            // A folder someone else made under a user's name is not that user's.
            if (IsPrivateFolder(path, uid))
                AddFolder(&folders, path, uid);
        }
    };
    for (const QString& base : userBases)
        look(base, QByteArray());
    for (const QString& base : tempBases)
        look(base, kFallbackFolderPrefix);
    std::sort(folders.begin(), folders.end(),
              [](const RuntimeFolder& a, const RuntimeFolder& b) { return a.path < b.path; });
    return folders;
}

std::vector<RuntimeFolder> RuntimeFoldersToSearch() {
    std::vector<RuntimeFolder> folders;
    const uid_t self = geteuid();
    const QString own = InstanceRuntimeFolder();
    if (!own.isEmpty())
        AddFolder(&folders, own, self);
    // Copies started without the session's variable are in the fallback.
    if (IsPrivateFolder(FallbackRuntimeFolder(), self))
        AddFolder(&folders, FallbackRuntimeFolder(), self);
    if (self == 0) {
        QStringList temp{QStringLiteral("/tmp")};
        if (!QDir::tempPath().isEmpty() && QDir::tempPath() != temp.front())
            temp << QDir::tempPath();
        for (const RuntimeFolder& folder : UserRuntimeFolders({QStringLiteral("/run/user")}, temp))
            AddFolder(&folders, folder.path, folder.owner);
    }
    return folders;
}

std::vector<RunningCopy> FindRunningCopiesIn(const std::vector<RuntimeFolder>& folders,
                                             const CopyFilter& filter) {
    std::vector<RunningCopy> copies;
    for (const RuntimeFolder& folder : folders) {
        for (const QByteArray& entry : FolderEntries(folder.path)) {
            RunningCopy copy;
            if (!ParseSocketFileName(entry, folder.owner, filter, &copy))
                continue;
            copy.socket = plat::JoinPath(folder.path, QFile::decodeName(entry));
            struct stat info {};
            if (lstat(QFile::encodeName(copy.socket).constData(), &info) != 0 ||
                !S_ISSOCK(info.st_mode) || info.st_uid != folder.owner)
                continue;
            pid_t listener = 0;
            const Holder holder = ProbeHolder(copy.socket, folder.owner, &listener);
            if (holder != Holder::User && holder != Holder::Unknown)
                continue;
            copy.executable = ExecutableOf(listener);
            copies.push_back(copy);
        }
    }
    std::sort(copies.begin(), copies.end(),
              [](const RunningCopy& a, const RunningCopy& b) { return a.socket < b.socket; });
    copies.erase(std::unique(copies.begin(), copies.end(),
                             [](const RunningCopy& a, const RunningCopy& b) {
                                 return a.socket == b.socket;
                             }),
                 copies.end());
    return copies;
}

std::vector<RunningCopy> FindRunningCopies(const QByteArray& instance, const QString& program) {
    CopyFilter filter;
    filter.instance = instance;
    if (geteuid() != 0)
        filter.onlyUser = geteuid();
    std::vector<RunningCopy> copies = FindRunningCopiesIn(RuntimeFoldersToSearch(), filter);
    if (!program.isEmpty()) {
        const QString name = KernelName(program);
        copies.erase(std::remove_if(copies.begin(), copies.end(),
                                    [&name](const RunningCopy& copy) {
                                        return !copy.executable.isEmpty() &&
                                               copy.executable != name;
                                    }),
                     copies.end());
    }
    return copies;
}

} // namespace setup
