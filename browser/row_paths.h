#pragma once
// Full paths of the file list's rows. A row's plain path is its folder (from
// the row's location) and its Name text; a container row's file is that path
// with ".ksr" added. Every path built here stays within plat::kLongestPath
// UTF-16 units.
#include <QString>

class QWidget;

// The row's plain path (never with ".ksr"). False after showing "Path Error"
// (kPathNotBuilt) when the row's location names no storage or folder, or the path
// would be too long; `path` is then unchanged.
bool BuildItemPath(QWidget* owner, int row, QString* path);

// Adds ".ksr" to a path of at most kLongestPlainPath units. False after showing "Keshlor
// Path Error" (kNoRoomForExtension); `path` is then unchanged.
bool AppendContainerExtension(QWidget* owner, QString* path);
