#pragma once
// Files of a per-user installation, touched without following a symbolic
// link that stands in place of one of its folders or files: such a link may
// lead into another user's or a system folder.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace setup {

// The first entry on the way from `base` (which may itself be a link) down
// to `path`'s folder that is there but is no real folder; empty when every
// one is a folder or missing.
QString BlockedFolder(const QString& base, const QString& path);

// Makes the missing folders from `base` down to `folder`, adding each one
// it made to `made`. False at an entry that is no real folder.
bool MakeFolders(const QString& base, const QString& folder, QStringList* made);

enum class EntryKind { Missing, File, Other };
// What `path` names, not following a link in its last component: a
// regular file, nothing, or anything else (a link, a folder, a device).
EntryKind KindOf(const QString& path);

// Writes `content` under a new name beside `path`, then renames it over
// `path` in one step (plat::ReplaceFile), so the old file (or a link at
// `path`, which is not followed) stays as it was until then.
bool WriteReplacing(const QString& path, const QByteArray& content, bool executable);

// Where the user's own file at `path` is kept when an installation has to
// take its name: the name with ".keshlor-saved" added.
QString SavedName(const QString& path);
// Renames `path` to its saved name, or back; never over an existing entry.
bool KeepAside(const QString& path);
bool PutBack(const QString& path);

} // namespace setup
