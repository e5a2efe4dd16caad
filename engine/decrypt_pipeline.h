#pragma once
#include "ports.h"

#include <QString>

enum class DecryptResult : int {
    Ok = 0,       // plain file complete, container deleted
    BadData = 1,  // wrong password, wrong strength or damaged container; nothing recorded
    Declined = 2, // the plain file's name was taken and not overwritten; nothing changed
    Failed = 3,   // an error code is pending
};

// Decrypts and inflates the container into the plain file, then deletes the
// container. Message boxes it shows are owned by `window`.
DecryptResult DecryptContainerToFile(plat::WindowHandle window, const QString& containerPath,
                                     const QString& plainPath, const QString& password);
