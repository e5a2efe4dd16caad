#pragma once
// What the file list hands on: a row to encrypt or decrypt, and the context
// menu of a row. The list only says which row and where.
#include <QPoint>

#include <functional>

class QTreeWidget;
class QWidget;

// The commands stand above the browser, so the program hands their row
// command to it at start-up; until then a tap does nothing.
using RowCommandHook = std::function<void(QWidget* owner, QTreeWidget* list, int row)>;
void SetRowCommandHook(RowCommandHook hook);

// A tap on a row, or Enter on the selected row: encrypts a plain row or
// decrypts a container row, updating the row (file_list.h) as it goes.
void ActivateListItem(QWidget* owner, QTreeWidget* list, int row);

// Tap-and-hold, right click or the context-menu key on a row (the row is
// selected already; `globalPos` is where the menu opens). Runs the chosen file
// operation, refreshing the list where the operation calls for it. The list
// swallows the tap that ends a tap-and-hold, so the menu need not.
void ShowContextMenu(QWidget* owner, QTreeWidget* list, int row, const QPoint& globalPos);
// Runs a command of that menu (ContextCommand, context_menu.h) on a row as if
// it had been chosen there: the Delete key and F2 come this way.
void RunContextCommand(QWidget* owner, QTreeWidget* list, int row, int command);
