#pragma once
// A look at a file someone named (on the command line, from another copy, in
// the open-file dialog) before anything is asked about it. The engine checks
// the same again on the file it opens; this only lets a refusal come first.
#include <QString>

namespace plat {

// True when `path` names a regular file, not through a symbolic link in its
// last component, and, `toEncrypt`, one without other names (hard links),
// whose data would outlive its removal. Otherwise false, with the last error
// and a detail naming the file and saying why: 2 when there is no such file,
// 5 for a folder, 681 for a link, 222 for a device, FIFO or socket, 1142 for
// other names; for anything else that keeps it from being looked at, the
// system's error.
bool CheckNamedFile(const QString& path, bool toEncrypt);

} // namespace plat
