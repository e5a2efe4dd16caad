#pragma once
// The commands of a row's context menu (ShowContextMenu, list_activation.h).
// Several share their numbers with option commands of the main window, so
// the menu hands its choice back to its caller and never to the window's
// command dispatch.
#include <QString>

enum ContextCommand : int {
    CmdMoveItem = 40040,
    CmdDeleteItem = 40041,
    CmdEncryptItem = 40044,
    CmdDecryptItem = 40045,
    CmdHideItem = 40046,
    CmdRevealItem = 40047,
    CmdCopyItem = 40048,
};

// The command's menu text, which also titles its dialogs and messages; empty
// for anything else.
QString ContextCommandText(int command);
