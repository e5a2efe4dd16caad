#pragma once
// The three paths a package installation records for the hooks, kept in the
// machine-wide settings file (QSettings' system scope) under "TQ/Keshlor".
#include <QString>

namespace setup {

struct InstallPaths {
    QString temp;    // where the package puts the new executable
    QString app;     // where the executable must finally be
    QString appLink; // the program's launcher
};

// /etc/xdg/TQ/Keshlor.conf, or the file KESHLOR_SETUP_STORE names: the
// user's own settings file in a per-user installation, or a test's.
QString SystemStorePath();

// True only when "Temp", "App" and "AppLink" are all there, read in that
// order and stopping at the first that fails: each must be a string naming
// an absolute path within the system's limits (plat::PathFits).
bool ReadInstallPaths(const QString& storePath, InstallPaths* paths);
bool WriteInstallPaths(const QString& storePath, const InstallPaths& paths);
// Removes the three values, then the file and its folder once they are empty.
bool RemoveInstallPaths(const QString& storePath);

} // namespace setup
