#pragma once
// The engine's ports as the program fills them: message boxes as dialogs,
// options from the Options menu, the wait cursor as the application cursor.
#include "platform/ports.h"

#include <QString>

class QWidget;

inline plat::WindowHandle HandleOf(QWidget* widget) {
    return widget;
}
inline QWidget* WidgetOf(plat::WindowHandle handle) {
    return static_cast<QWidget*>(handle);
}

void InstallGuiPorts();
void RemoveGuiPorts();

// The message box of the platform: owner, text, caption and style in, the
// answer's ID out (Escape and the window's close button give the safe answer).
int ShowMessageBox(plat::WindowHandle owner, const QString& text, const QString& caption,
                   uint32_t style);
