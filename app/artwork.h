#pragma once
// The program's pictures, painted at build time and kept in its resources.
#include <QIcon>

// The padlock: the window icon and the About box's picture.
QIcon AppIcon();
// The key: shown in the notification area while a password is asked for.
QIcon NotificationIcon();

enum class CommandImage { Exit = 0, Refresh = 1, About = 2 };
// One 16 by 16 image of the command bar's strip (with a double-size version).
QIcon CommandBarImage(CommandImage image);
