#pragma once
#include "engine/wipe.h"
#include "platform/ports.h"

#include <QString>

#include <cstdint>

enum class DecryptResult : int {
    Ok = 0,        // plain file complete, container deleted
    BadData = 1,   // wrong password, wrong strength or damaged container; nothing recorded
    Declined = 2,  // the plain file's name was taken and not overwritten; nothing changed
    Failed = 3,    // an error code is pending
    Cancelled = 4, // stopped on request (an interrupt); nothing changed, nothing pending
};

// Decrypts and inflates the container into the plain file, then deletes the
// container unless `source` says to keep it. The plain file is written under a temporary name and
// takes its own only when complete, so an earlier plain file of that name stays whole unless the
// run succeeds. Message boxes it shows are owned by `window`.
DecryptResult DecryptContainerToFile(plat::WindowHandle window, const QString& containerPath,
                                     const QString& plainPath, const QString& password,
                                     SourceAfterRun source = SourceAfterRun::Remove);

// Whether the last successful decryption of this thread could delete its
// container; when not, the last error of the failed deletion.
struct ContainerRemoval {
    bool removed = true;
    uint32_t lastError = 0;
    bool reported = false; // the run has said why itself (another file had taken its name)
};
ContainerRemoval LastContainerRemoval();
