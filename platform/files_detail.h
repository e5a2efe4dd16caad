#pragma once
// What the file services in platform/ share among themselves; nothing outside
// platform/ includes this.
#include <QByteArray>
#include <QString>

#include <sys/stat.h>

namespace plat::detail {

QByteArray NativePath(const QString& path);
// Sets the last error from `err` and returns false.
bool Fail(int err);
QString FolderOf(const QString& path);
// `name` in `folder`, with one separator between them.
QString JoinPath(const QString& folder, const QString& name);
// No owner write bit, or the DOS read-only bit.
bool IsReadOnlyFile(int fd, const struct stat& st);
// Renames without replacing anything at `to`; errno says why not.
bool RenameNoReplace(const QByteArray& from, const QByteArray& to);
// A path in `folder` of `prefix` and ten random letters and digits.
QString RandomPathIn(const QString& folder, const char* prefix);
// Whether `fd` and the name `native` (not followed) are the same file.
bool SameFile(int fd, const QByteArray& native);
// The deletion fault of the test seams: true, with errno set, while it is on.
bool DeleteFaultOn();
// Tells the test seam that a file of Keshlor's moved from `from` to `to`.
void NoteRename(const QString& from, const QString& to);

// The prefix of the names under which a file waits, off its own name, until it
// is proven to be the one a run read. The leftover sweep never takes these:
// until proven, such a file may be the newest data a user has.
inline constexpr char kKeptPrefix[] = ".keshlor-kept-";

} // namespace plat::detail
