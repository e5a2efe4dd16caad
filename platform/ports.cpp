#include "platform/ports.h"

#include <QtGlobal>

#include <atomic>

namespace plat {

namespace {
MessageBoxPort g_messageBox;
OptionPort g_options;
CursorPort g_cursor;
ProgressPort g_progress;
std::atomic<bool> g_readByRun{false};

void CheckNoRunReads() {
    Q_ASSERT_X(!g_readByRun.load(), "plat::Set*Port",
               "a port was set while a run on another thread reads the ports");
}
} // namespace

RunReadsPorts::RunReadsPorts() {
    [[maybe_unused]] const bool already = g_readByRun.exchange(true);
    Q_ASSERT_X(!already, "plat::RunReadsPorts", "a second run reads the ports");
}

RunReadsPorts::~RunReadsPorts() {
    g_readByRun.store(false);
}

bool PortsReadByRun() {
    return g_readByRun.load();
}

void SetMessageBoxPort(MessageBoxPort port) {
    CheckNoRunReads();
    g_messageBox = std::move(port);
}
void SetOptionPort(OptionPort port) {
    CheckNoRunReads();
    g_options = std::move(port);
}
void SetCursorPort(CursorPort port) {
    CheckNoRunReads();
    g_cursor = std::move(port);
}

void SetProgressPort(ProgressPort port) {
    CheckNoRunReads();
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
