#pragma once
// The inserted storage cards: removable volumes mounted where the system mounts
// them for the user. Tests put their own list in place of the system's.
#include <QList>
#include <QString>

#include <functional>

namespace plat {

struct StorageCard {
    QString name; // the mount folder's name, as the storage selector shows it
    QString root; // the mount point
};

using StorageCardEnumerator = std::function<QList<StorageCard>()>;

// The cards the current enumerator reports, in its order.
QList<StorageCard> EnumerateStorageCards();
// An empty function puts the system's enumeration back.
void SetStorageCardEnumerator(StorageCardEnumerator enumerator);

// The system's enumeration: volumes mounted directly in /media/$USER,
// /run/media/$USER or /media. A name met twice keeps its first volume, since
// the selector tells cards apart by name alone.
QList<StorageCard> MountedStorageCards();

} // namespace plat
