#include "platform/storage_cards.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

#include <pwd.h>
#include <unistd.h>

namespace plat {

namespace {

StorageCardEnumerator g_enumerator;

QString UserName() {
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

} // namespace

QList<StorageCard> EnumerateStorageCards() {
    return g_enumerator ? g_enumerator() : MountedStorageCards();
}

void SetStorageCardEnumerator(StorageCardEnumerator enumerator) {
    g_enumerator = std::move(enumerator);
}

QList<StorageCard> MountedStorageCards() {
    QStringList places;
    const QString user = UserName();
    if (!user.isEmpty())
        places << QStringLiteral("/media/") + user << QStringLiteral("/run/media/") + user;
    places << QStringLiteral("/media");

    QList<StorageCard> cards;
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QString& place : places) {
        for (const QStorageInfo& volume : volumes) {
            if (!volume.isValid() || !volume.isReady())
                continue;
            const QString root = QDir::cleanPath(volume.rootPath());
            const QFileInfo info(root);
            if (info.path() != place || places.contains(root))
                continue;
            const QString name = info.fileName();
            const bool known =
                std::any_of(cards.begin(), cards.end(),
                            [&name](const StorageCard& c) { return c.name == name; });
            if (!name.isEmpty() && !known)
                cards.append({name, root});
        }
    }
    return cards;
}

} // namespace plat
