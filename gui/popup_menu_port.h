#pragma once
// Popup menus behind a port that tests replace, so that they can choose an
// item without a modal loop.
#include <QList>
#include <QPoint>
#include <QString>

#include <functional>

class QWidget;

struct PopupItem {
    int command = 0; // 0: a separator
    QString text;
};

// The chosen item's command, or 0 when the menu was dismissed.
using PopupMenuPort =
    std::function<int(QWidget* owner, const QList<PopupItem>& items, const QPoint& globalPos)>;

// An empty port restores the real menus.
void SetPopupMenuPort(PopupMenuPort port);
// Opens the menu at `globalPos` (screen coordinates) and waits for the choice.
int RunPopupMenu(QWidget* owner, const QList<PopupItem>& items, const QPoint& globalPos);
