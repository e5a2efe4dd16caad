#include "app/artwork.h"

#include <QPixmap>

QIcon AppIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/keshlor-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/keshlor-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/keshlor-64.png"), QSize(64, 64));
    return icon;
}

QIcon NotificationIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/notify-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/notify-32.png"), QSize(32, 32));
    return icon;
}

QIcon CommandBarImage(CommandImage image) {
    const int index = static_cast<int>(image);
    QIcon icon;
    const QPixmap strip(QStringLiteral(":/icons/commands.png"));
    if (!strip.isNull())
        icon.addPixmap(strip.copy(index * 16, 0, 16, 16));
    const QPixmap large(QStringLiteral(":/icons/commands@2x.png"));
    if (!large.isNull())
        icon.addPixmap(large.copy(index * 32, 0, 32, 32));
    return icon;
}
