#pragma once
// Where a window that belongs to another opens: centred on that window, within
// the screen's usable area, instead of wherever the window system puts a new
// window (the screen's corner, without a window manager).
class QWidget;

// Centres `window` on its parent's window, or on its screen when it has none.
void CentreOnOwner(QWidget* window);
