#pragma once
// The one way a plain file is removed: overwritten with random bytes first when
// "Wipe after encryption" is on, then deleted.
#include "ports.h"

#include <QString>

// Shows its own questions and messages, owned by `window`.
void DisposePlainFile(plat::WindowHandle window, const QString& path);
// True when every byte of the file was overwritten and reached the disk.
bool WipeFileData(const QString& path);
