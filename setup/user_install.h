#pragma once
// A per-user installation, without root: keshlor-setup plays the platform's
// installer for the user's own ~/.local. It copies the program under its
// installer name and its companions (ksr, the MIME type, the icons, and
// itself with the hook library, for the removal) from an installed tree,
// records the three paths in the user's own settings file, and calls the
// hooks, which close the user's running copies (asking on the terminal
// first), move the program into place and write its launcher.
#include "setup/keshlor_setup.h"

#include <QString>

namespace setup {

// The driver's exit codes beyond the hooks' own 0 and 1.
inline constexpr int kUsageError = 2;
inline constexpr int kLibraryError = 3;
inline constexpr int kStoreError = 4;
inline constexpr int kFilesError = 5;

struct HookExports {
    InstallInitFunction installInit = nullptr;
    InstallExitFunction installExit = nullptr;
    UninstallInitFunction uninstallInit = nullptr;
    UninstallExitFunction uninstallExit = nullptr;
};

struct UserLayout {
    QString source;   // an installed tree holding bin/keshlor and share/
    QString setupDir; // the folder of the running driver and its library
    QString binDir;   // ~/.local/bin: the program's folder
    QString libDir;   // ~/.local/lib/keshlor: the program's installer name, the driver
    QString dataDir;  // $XDG_DATA_HOME: launcher, MIME type, icons
    QString store;    // the user's settings file, which holds the three paths

    QString temp() const;
    QString app() const;
    QString appLink() const;
};

// ~/.local and the user's settings file, taking the files from `source`.
UserLayout CurrentUserLayout(const QString& source, const QString& setupDir);

// Both give 0 when done, 1 when a running copy was not closed (nothing
// changed), or one of the driver's error codes.
int InstallForUser(const HookExports& hooks, const UserLayout& layout);
int UninstallForUser(const HookExports& hooks, const UserLayout& layout);

} // namespace setup
