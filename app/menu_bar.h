#pragma once
// The command bar at the foot of the main window: Exit, File, Options,
// Refresh and About, with the File and Options drop-downs. Every command is
// an action whose data is its command ID; the eight checkable items of the
// Options drop-down are the options themselves.
#include <functional>

class QAction;
class QMainWindow;
class QToolBar;

// Builds the bar into `window` and sets g_menuOptions. Every action is the
// window's, so that accelerators work window-wide, and is handed to
// `onCommand` (the window's dispatcher) when triggered; without one the
// items do nothing.
QToolBar* CreateAppMenuBar(QMainWindow* window,
                           const std::function<void(QAction*)>& onCommand = {});
