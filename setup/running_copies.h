#pragma once
// Running copies of the program on this machine, of every user. Each copy
// holds its channel, an abstract socket named "KESHLOR-<uid>" or
// "KESHLOR-<uid>-<instance>", which the kernel lists in /proc/net/unix.
#include <QByteArray>

#include <optional>
#include <sys/types.h>
#include <vector>

namespace setup {

struct RunningCopy {
    QByteArray channel; // the abstract name without its leading NUL
    uid_t owner = 0;    // the user the name gives
};

struct CopyFilter {
    // Only copies started with this KESHLOR_INSTANCE; empty: every copy.
    QByteArray instance;
    std::optional<uid_t> onlyUser;
};

// The program's listening channels in a /proc/net/unix table, sorted by name.
std::vector<RunningCopy> ParseRunningCopies(const QByteArray& table, const CopyFilter& filter);

// Those of this machine. Every user's copies for the administrator, only
// one's own for anyone else (other users' copies would not listen to them).
// A name held by someone other than the user it gives is no copy of ours
// and is left out.
std::vector<RunningCopy> FindRunningCopies(const QByteArray& instance);

} // namespace setup
