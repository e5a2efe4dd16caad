#include "running_copies.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace setup {

namespace {

constexpr char kChannelPrefix[] = "KESHLOR-";
// __SO_ACCEPTCON in the table's flags: the socket listens.
constexpr unsigned long kListening = 0x10000;
constexpr unsigned long kStream = 1;

// Splits a table row into its seven numeric fields and the path, which is
// the rest of the line after one space and may itself hold spaces.
bool SplitRow(const QByteArray& row, QByteArray fields[7], QByteArray* path) {
    qsizetype at = 0;
    for (int i = 0; i < 7; ++i) {
        while (at < row.size() && row[at] == ' ')
            ++at;
        const qsizetype end = row.indexOf(' ', at);
        if (at >= row.size() || end < 0)
            return false;
        fields[i] = row.mid(at, end - at);
        at = end;
    }
    *path = row.mid(at + 1);
    return true;
}

bool ParseChannelName(const QByteArray& name, const CopyFilter& filter, RunningCopy* copy) {
    if (!name.startsWith(kChannelPrefix))
        return false;
    const qsizetype start = sizeof(kChannelPrefix) - 1;
    qsizetype end = start;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9')
        ++end;
    if (end == start || end - start > 10)
        return false;
    bool ok = false;
    const qulonglong uid = name.mid(start, end - start).toULongLong(&ok);
    if (!ok || uid > static_cast<uid_t>(-1))
        return false;
    QByteArray suffix;
    if (end < name.size()) {
        if (name[end] != '-' || end + 1 == name.size())
            return false;
        suffix = name.mid(end + 1);
    }
    if (!filter.instance.isEmpty() && suffix != filter.instance)
        return false;
    if (filter.onlyUser && *filter.onlyUser != static_cast<uid_t>(uid))
        return false;
    copy->channel = name;
    copy->owner = static_cast<uid_t>(uid);
    return true;
}

enum class Holder { User, Someone, Gone, Unknown };

// Who listens on the name, without asking it anything: the kernel gives the
// listener's credentials to whoever connects.
Holder ProbeHolder(const RunningCopy& copy) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return Holder::Unknown;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length =
        std::min(static_cast<size_t>(copy.channel.size()), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, copy.channel.constData(), length);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    Holder holder = Holder::Unknown;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0) {
        ucred credentials{};
        socklen_t credentialsLength = sizeof(credentials);
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &credentialsLength) == 0)
            holder = credentials.uid == copy.owner ? Holder::User : Holder::Someone;
    } else if (errno == ECONNREFUSED || errno == ENOENT) {
        holder = Holder::Gone;
    }
    // EAGAIN: a copy that takes no connections just now; it still counts.
    close(fd);
    return holder;
}

} // namespace

std::vector<RunningCopy> ParseRunningCopies(const QByteArray& table, const CopyFilter& filter) {
    std::vector<RunningCopy> copies;
    const QList<QByteArray> rows = table.split('\n');
    for (qsizetype i = 1; i < rows.size(); ++i) {
        QByteArray fields[7];
        QByteArray path;
        if (!SplitRow(rows[i], fields, &path) || !path.startsWith('@'))
            continue;
        bool flagsOk = false;
        bool typeOk = false;
        const unsigned long flags = fields[3].toULong(&flagsOk, 16);
        const unsigned long type = fields[4].toULong(&typeOk, 16);
        if (!flagsOk || !typeOk || !(flags & kListening) || type != kStream)
            continue;
        RunningCopy copy;
        if (ParseChannelName(path.mid(1), filter, &copy))
            copies.push_back(copy);
    }
    std::sort(copies.begin(), copies.end(),
              [](const RunningCopy& a, const RunningCopy& b) { return a.channel < b.channel; });
    copies.erase(std::unique(copies.begin(), copies.end(),
                             [](const RunningCopy& a, const RunningCopy& b) {
                                 return a.channel == b.channel;
                             }),
                 copies.end());
    return copies;
}

std::vector<RunningCopy> FindRunningCopies(const QByteArray& instance) {
    QFile file(QStringLiteral("/proc/net/unix"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    CopyFilter filter;
    filter.instance = instance;
    if (geteuid() != 0)
        filter.onlyUser = geteuid();
    std::vector<RunningCopy> copies;
    for (const RunningCopy& copy : ParseRunningCopies(file.readAll(), filter)) {
        const Holder holder = ProbeHolder(copy);
        if (holder == Holder::User || holder == Holder::Unknown)
            copies.push_back(copy);
    }
    return copies;
}

} // namespace setup
