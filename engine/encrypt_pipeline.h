#pragma once
#include "engine/wipe.h"
#include "platform/ports.h"

#include <QString>

enum class EncryptResult : int {
    Ok = 0,        // container complete, plain file disposed of
    Declined = 1,  // the container's name was taken and not overwritten; nothing changed
    Failed = 2,    // an error code is pending
    Cancelled = 3, // stopped on request (an interrupt) before the container was complete;
                   // nothing changed and nothing is pending
};

// Compresses and encrypts the plain file into the container, then disposes of
// the plain file (LastDisposeOutcome tells how that went) unless `source`
// says to keep it. The container is
// written under a temporary name and takes its own only when complete, so an
// earlier container of that name stays whole until then. Message boxes it
// shows are owned by `window`.
EncryptResult EncryptFileToContainer(plat::WindowHandle window, const QString& plainPath,
                                     const QString& containerPath, const QString& password,
                                     SourceAfterRun source = SourceAfterRun::Remove);

// Forgets what this process has said or looked at once for all its runs (the
// "Can't hide!" warning, the folders already searched for leftovers), as a
// new process would have it: for a process that runs files one after another
// on behalf of several callers.
void ResetOncePerProcessState();
// Forgets only that the warnings said once per process ("Can't hide!",
// "Can't keep permissions!") were shown, so that the next file warns again.
void ForgetOnceOnlyWarnings();
