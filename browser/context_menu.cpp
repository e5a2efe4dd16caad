#include "browser/context_menu.h"

#include "browser/file_list.h"
#include "browser/file_operations.h"
#include "browser/folder_watch.h"
#include "browser/list_activation.h"
#include "browser/view_contents.h"
#include "gui/popup_menu_port.h"

#include <QTreeWidget>

#include <utility>

namespace {

RowCommandHook& RowCommand() {
    static RowCommandHook hook;
    return hook;
}

} // namespace

QString ContextCommandText(int command) {
    switch (command) {
    case CmdEncryptItem:
        return QStringLiteral("Encrypt / Open");
    case CmdDecryptItem:
        return QStringLiteral("Decrypt / Open");
    case CmdMoveItem:
        return QStringLiteral("Move / Rename");
    case CmdCopyItem:
        return QStringLiteral("Copy");
    case CmdDeleteItem:
        return QStringLiteral("Delete");
    case CmdHideItem:
        return QStringLiteral("Hide");
    case CmdRevealItem:
        return QStringLiteral("Reveal");
    default:
        return QString();
    }
}

void ShowContextMenu(QWidget* owner, QTreeWidget* list, int row, const QPoint& globalPos) {
    QTreeWidgetItem* item = list ? list->topLevelItem(row) : nullptr;
    if (!item)
        return;
    list->setCurrentItem(item);

    const bool encrypted = IsItemEncrypted(row);
    const bool hidden = IsItemHidden(row);
    const int commands[] = {
        encrypted ? CmdDecryptItem : CmdEncryptItem, 0, CmdMoveItem, CmdCopyItem, CmdDeleteItem,
        hidden ? CmdRevealItem : CmdHideItem};
    QList<PopupItem> items;
    for (int command : commands)
        items.append({command, ContextCommandText(command)});

    // The choice is handled here; the main window would read some of these
    // numbers as its option commands.
    RunContextCommand(owner, list, row, RunPopupMenu(owner, items, globalPos));
}

void RunContextCommand(QWidget* owner, QTreeWidget* list, int row, int command) {
    if (!list || !list->topLevelItem(row))
        return;
    // The operation refills the list itself where it must.
    const ListRefreshHold hold;
    const bool encrypted = IsItemEncrypted(row);
    const QString caption = ContextCommandText(command);
    bool refill = false;
    switch (command) {
    case CmdEncryptItem:
    case CmdDecryptItem:
        ActivateListItem(owner, list, row);
        break;
    case CmdMoveItem:
        refill = MoveItem(owner, caption, row);
        break;
    case CmdCopyItem:
        refill = CopyItem(owner, caption, row);
        break;
    case CmdDeleteItem:
        refill = DeleteItemFile(row, owner);
        break;
    case CmdHideItem:
        if (ToggleHidden(row, owner))
            SetItemMark(row, encrypted ? ItemMark::HiddenEncrypted : ItemMark::HiddenPlain);
        break;
    case CmdRevealItem:
        if (ToggleHidden(row, owner))
            SetItemMark(row, encrypted ? ItemMark::Encrypted : ItemMark::NoMark);
        break;
    default:
        break;
    }

    if (refill)
        RefreshFileList();
    else
        list->viewport()->update();
}

void SetRowCommandHook(RowCommandHook hook) {
    RowCommand() = std::move(hook);
}

void ActivateListItem(QWidget* owner, QTreeWidget* list, int row) {
    if (RowCommand())
        RowCommand()(owner, list, row);
}
