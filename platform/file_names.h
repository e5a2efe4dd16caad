#pragma once
// File names are bytes on Linux and text in the program. Names that are not
// UTF-8 decode with U+FFFD in place of their odd bytes, so two names can read
// alike, and a path built from the text then reaches another file or none.
// These tell whether a name said as text still means the file it came from,
// and make the path of a name in a folder.
#include <QByteArray>
#include <QString>

namespace plat {

// `name` in `folder`, with one "/" between them whether or not `folder` ends
// with one (as the root does); `name` alone when `folder` is empty.
QString JoinPath(const QString& folder, const QString& name);
QByteArray JoinPath(const QByteArray& folder, const QByteArray& name);

// False when a component of `path` cannot be told apart from another entry
// of its folder: it holds U+FFFD and the folder has an entry of other bytes
// that reads the same, or it does not turn into bytes and back unchanged.
// Folders on the way are checked like the last component. A folder that
// holds such a name but cannot be read counts as unfaithful; one that does
// not exist does not, as the path then reaches nothing at all.
bool IsFaithfulPath(const QString& path);

// True when the bytes of a command-line argument come back unchanged from
// their text.
bool IsFaithfulArgument(const char* raw);

// Sets the last error (1113) and a detail naming the file as `shownName`,
// for a name that is refused because it is not text.
void RefuseUnfaithfulName(const QString& shownName);

} // namespace plat
