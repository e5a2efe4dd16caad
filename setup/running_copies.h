#pragma once
// Running copies of the program on this machine, of every user. Each copy
// holds its channel, a socket file "KESHLOR-<uid>.socket" or
// "KESHLOR-<uid>-<instance>.socket" in its user's runtime folder
// (instance_channel.h); the copies are found by looking in those folders.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>
#include <vector>

namespace setup {

struct RunningCopy {
    QString socket;     // the channel's socket file
    QByteArray channel; // its name, the file name without ".socket"
    uid_t owner = 0;    // the user whose folder holds it
    QString executable; // the program file the copy runs; empty when unknown
};

struct CopyFilter {
    // Only copies started with this KESHLOR_INSTANCE; empty: every copy.
    QByteArray instance;
    std::optional<uid_t> onlyUser;
};

// A folder that may hold channels, and the only user whose copies count there.
struct RuntimeFolder {
    QString path;
    uid_t owner = 0;
};

// The channel named by `fileName` in a folder of `owner`. A file that is no
// channel, or one whose name gives another user than `owner`, gives false.
bool ParseSocketFileName(const QByteArray& fileName, uid_t owner, const CopyFilter& filter,
                         RunningCopy* copy);

// Every user's folders: "<base>/<uid>" under each of `userBases` (as
// /run/user) and "<base>/keshlor-<uid>" under each of `tempBases` (as /tmp),
// each only when it is a real folder of that uid with mode 0700. Sorted by
// path.
std::vector<RuntimeFolder> UserRuntimeFolders(const QStringList& userBases,
                                              const QStringList& tempBases);

// Where FindRunningCopies looks: this user's runtime folder and its
// fallback folder; for the administrator also every user's folders under
// /run/user, /tmp and $TMPDIR.
std::vector<RuntimeFolder> RuntimeFoldersToSearch();

// The channels in `folders`, sorted by socket path: socket files named for
// the folder's owner that a process of the owner listens on. Debris of a
// crashed copy (nobody listens) and a socket held by anyone else are left
// out; a copy that takes no connections just now still counts.
std::vector<RunningCopy> FindRunningCopiesIn(const std::vector<RuntimeFolder>& folders,
                                             const CopyFilter& filter);

// Those of this machine: every user's copies for the administrator, only
// one's own for anyone else (other users' copies would not listen to them,
// nor could they reach them). With a `program`, only copies running that
// file, and those whose program file cannot be told.
std::vector<RunningCopy> FindRunningCopies(const QByteArray& instance,
                                           const QString& program = QString());

} // namespace setup
