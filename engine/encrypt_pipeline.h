#pragma once
#include "ports.h"

#include <QString>

enum class EncryptResult : int {
    Ok = 0,       // container complete, plain file disposed of
    Declined = 1, // the container's name was taken and not overwritten; nothing changed
    Failed = 2,   // an error code is pending
};

// Compresses and encrypts the plain file into the container, then disposes of
// the plain file. Message boxes it shows are owned by `window`.
EncryptResult EncryptFileToContainer(plat::WindowHandle window, const QString& plainPath,
                                     const QString& containerPath, const QString& password);
