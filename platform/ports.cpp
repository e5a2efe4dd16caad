#include "platform/ports.h"

namespace plat {

namespace {
MessageBoxPort g_messageBox;
OptionPort g_options;
CursorPort g_cursor;
ProgressPort g_progress;
} // namespace

void SetMessageBoxPort(MessageBoxPort port) {
    g_messageBox = std::move(port);
}
void SetOptionPort(OptionPort port) {
    g_options = std::move(port);
}
void SetCursorPort(CursorPort port) {
    g_cursor = std::move(port);
}

void SetProgressPort(ProgressPort port) {
    g_progress = std::move(port);
}

MessageBoxPort CurrentMessageBoxPort() {
    return g_messageBox;
}
OptionPort CurrentOptionPort() {
    return g_options;
}
CursorPort CurrentCursorPort() {
    return g_cursor;
}
ProgressPort CurrentProgressPort() {
    return g_progress;
}

int SafeAnswer(uint32_t style) {
    switch (style & kMbButtonMask) {
    case kMbYesNo:
        return kIdNo;
    case kMbRetryCancel:
    case kMbOkCancel:
        return kIdCancel;
    default:
        return kIdOk;
    }
}

int MessageBox(WindowHandle owner, const QString& text, const QString& caption, uint32_t style) {
    if (!g_messageBox)
        return SafeAnswer(style);
    return g_messageBox(owner, text, caption, style);
}

intptr_t ShowWaitCursor() {
    return g_cursor.showWait ? g_cursor.showWait() : 0;
}

void RestoreCursor(intptr_t previous) {
    if (g_cursor.restore)
        g_cursor.restore(previous);
}

void ReportProgress(uint64_t done, uint64_t total) {
    if (g_progress)
        g_progress(done, total);
}

} // namespace plat

int IsOptionChecked(uint16_t commandId) {
    if (plat::g_options)
        return plat::g_options(commandId) ? 1 : 0;
    // Without a menu every option is on, as the menu template has them.
    return 1;
}
