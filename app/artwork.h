#pragma once
// The program's pictures, painted at build time and kept in its resources.
#include <QIcon>

// Icon 101, the padlock: window icon and the About box's picture.
QIcon AppIcon();
// Icon 124, the key: shown in the notification area while a password is asked for.
QIcon NotificationIcon();

enum class CommandImage { Exit = 0, Refresh = 1, About = 2 };
// One 16 by 16 image of the command bar's strip (with a double-size version).
QIcon CommandBarImage(CommandImage image);
