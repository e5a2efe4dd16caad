#pragma once
// Full paths of the file list's rows. A row's plain path is its folder (from
// the row's location) and its Name text; a container row's file is that path
// with ".ksr" added. The paths given to commands stay within the system's limits
// (plat::PathFits), which a refusal names with the file.
#include <QString>
#include <Qt>

#include <cstdint>

class QTreeWidgetItem;
class QWidget;

// Where a row's file was found: the storage selector position in the low 16
// bits, the folder selector position in the high 16 bits (0 = all, 1 = Main
// Memory or the base folder, 2 and on = a card or a subfolder).
inline constexpr int kItemLocationRole = Qt::UserRole;

inline constexpr uint32_t ItemLocation(int storagePosition, int folderPosition) {
    return static_cast<uint32_t>(folderPosition) << 16 | static_cast<uint32_t>(storagePosition);
}

// The plain path of a row of the list, whatever its length; empty when its
// location names no folder that was listed. Shows nothing.
QString RowPlainPath(const QTreeWidgetItem* item);

// The row's plain path (never with ".ksr"). False after showing "Path Error"
// (kPathNotBuilt) when the row's location names no storage or folder, or the path
// would be too long (the message then names it); `path` is then unchanged.
bool BuildItemPath(QWidget* owner, int row, QString* path);

// Adds ".ksr" to a path whose container name fits (plat::ContainerPathFits).
// False after showing "Keshlor Path Error" (kNoRoomForExtension) with the
// path named; `path` is then unchanged.
bool AppendContainerExtension(QWidget* owner, QString* path);
