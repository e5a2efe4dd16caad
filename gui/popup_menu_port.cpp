#include "gui/popup_menu_port.h"

#include <QAction>
#include <QMenu>

namespace {

PopupMenuPort g_port;

int ShowQtPopupMenu(QWidget* owner, const QList<PopupItem>& items, const QPoint& globalPos) {
    QMenu menu(owner);
    for (const PopupItem& item : items) {
        if (item.command == 0)
            menu.addSeparator();
        else
            menu.addAction(item.text)->setData(item.command);
    }
    const QAction* chosen = menu.exec(globalPos);
    return chosen ? chosen->data().toInt() : 0;
}

} // namespace

void SetPopupMenuPort(PopupMenuPort port) {
    g_port = std::move(port);
}

int RunPopupMenu(QWidget* owner, const QList<PopupItem>& items, const QPoint& globalPos) {
    return g_port ? g_port(owner, items, globalPos) : ShowQtPopupMenu(owner, items, globalPos);
}
