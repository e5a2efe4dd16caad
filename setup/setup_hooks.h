#pragma once
// The work of the installer hooks, apart from the exported C functions so
// that tests can run it with their own store, wait and running copies.
#include "platform/ports.h"

#include <QByteArray>
#include <QString>

namespace setup {

inline constexpr int kCloseWaitMs = 8000;
// The executable's name in the installation folder.
inline constexpr char kExecutableName[] = "keshlor";

struct SetupContext {
    QString storePath;              // where the package records the three paths
    QByteArray instance;            // close only copies of this KESHLOR_INSTANCE; empty: all
    QString program;                // close only copies running this file; empty: all
    int closeWaitMs = kCloseWaitMs; // a copy's time to close before it is looked for again
};

// The system-wide store, and the copies this process's environment names
// (KESHLOR_INSTANCE, and KESHLOR_SETUP_PROGRAM: the program file a
// per-user installation replaces or removes).
SetupContext SystemContext();

// Finds a running copy, asks whether to close it, closes it, and looks
// again until none is left. False as soon as an answer is not OK.
bool CloseRunningProgram(plat::WindowHandle owner, const SetupContext& context);

// The hooks' steps; the results are the exports' codes.
int InstallInit(plat::WindowHandle owner, bool previouslyInstalled, const QString& installDir,
                const SetupContext& context);
int InstallExit(const SetupContext& context);
int UninstallInit(plat::WindowHandle owner, const SetupContext& context);

} // namespace setup
