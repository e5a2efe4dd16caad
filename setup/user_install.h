#pragma once
// A per-user installation, without root: keshlor-setup plays the platform's
// installer for the user's own ~/.local. It copies the program under its
// installer name and its companions (ksr, the MIME type, the icons, the
// manual pages, the shell completions, and itself with the hook library,
// for the removal) from an installed tree, records the three paths in the
// user's own settings file, and calls the hooks, which close the user's
// running copies of the program they replace (asking on the terminal
// first), move the program into place and write its launcher.
//
// It replaces and removes only files it wrote, as its record
// (install_manifest.h) says, and follows no link in place of its folders.
#include "setup/keshlor_setup.h"

#include <QString>

namespace setup {

// The driver's exit codes beyond the hooks' own 0 and 1.
// 1, as the hooks' cancel: refused, nothing changed.
inline constexpr int kRefused = 1;
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
    QString source;     // an installed tree holding bin/keshlor and share/
    QString setupDir;   // the folder of the running driver and its library
    QString home;       // the user's home, where the folder checks start
    QString binDir;     // ~/.local/bin: the program's folder
    QString libDir;     // ~/.local/lib/keshlor: the installer name, the driver, the record
    QString manDir;     // ~/.local/share/man, where man finds pages beside ~/.local/bin
    QString dataDir;    // $XDG_DATA_HOME: launcher, MIME type, icons, bash completion
    QString configDir;  // $XDG_CONFIG_HOME: the settings file, fish completion
    QString dataBase;   // $XDG_DATA_HOME as the user set it, else the home
    QString configBase; // $XDG_CONFIG_HOME as the user set it, else the home
    QString store;      // the user's settings file, which holds the three paths

    QString temp() const;
    QString app() const;
    QString appLink() const;
    QString manifest() const;
};

// ~/.local and the user's settings file, taking the files from `source`.
UserLayout CurrentUserLayout(const QString& source, const QString& setupDir);

// Both give 0 when done; 1 when they refused and changed nothing (a running
// copy was not closed, a file in the way is not theirs, a link stands in
// place of a folder, root for another user's home, no record to remove
// by); or one of the driver's error codes. With `force`, files in the way
// are kept beside their names (SavedName) and get them back at removal.
int InstallForUser(const HookExports& hooks, const UserLayout& layout, bool force);
int UninstallForUser(const HookExports& hooks, const UserLayout& layout);

} // namespace setup
