#pragma once
// The command bar at the foot of the main window: Exit, File, Options,
// Refresh and About, with the File and Options drop-downs. Every command is
// an action whose data is its command ID; the eight checkable items of the
// Options drop-down are the options themselves.
class MainWindow;
class QToolBar;

// Builds the bar into `window`, sets g_menuOptions and hands every action to
// the window's dispatcher. Accelerators work window-wide.
QToolBar* CreateAppMenuBar(MainWindow* window);
