#include "startup.h"

#include "artwork.h"
#include "command_operations.h"
#include "gui_ports.h"
#include "instance_channel.h"
#include "main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

namespace {

// How long a second copy tries to reach the first one.
constexpr int kRaiseTimeoutMs = 3000;
constexpr int kRetryMs = 20;

} // namespace

QString CopyCommandLine(const QStringList& arguments) {
    const QString line = arguments.mid(1).join(QLatin1Char(' '));
    return line.size() <= kMaxCommandLine ? line : QString();
}

bool DeferToRunningCopy(InstanceChannel& channel) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        switch (channel.Claim()) {
        case ClaimResult::Claimed:
            return false;
        case ClaimResult::Unavailable:
            // No channel at all: better to run alone than not at all.
            return false;
        case ClaimResult::Taken:
            break;
        }
        const int remaining = kRaiseTimeoutMs - static_cast<int>(clock.elapsed());
        if (remaining <= 0)
            return true;
        switch (SendInstanceRequest(channel.name(), kRaiseRequest, remaining)) {
        case InstanceReply::Done:
        case InstanceReply::NoAnswer:
            return true;
        case InstanceReply::Foreign:
            // Another user's process holds our name; it must not keep us out.
            return false;
        case InstanceReply::NotRunning:
            // The holder is still starting up, or has just ended: try again.
            QThread::msleep(kRetryMs);
            break;
        }
    }
}

int RunKeshlor(int& argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("TQ"));
    QApplication::setApplicationName(QStringLiteral("Keshlor"));
    QApplication::setApplicationVersion(QStringLiteral("2.13.0.1"));
    QApplication::setDesktopFileName(QStringLiteral("keshlor"));
    QApplication::setWindowIcon(AppIcon());
    // The program ends when its main window is gone, not when the last
    // window closes (the help window may outlive a dialog, for one).
    QApplication::setQuitOnLastWindowClosed(false);

    InstanceChannel channel(InstanceChannelName());
    // The command line of a second copy is not passed on.
    if (DeferToRunningCopy(channel))
        return 0;
    const QString commandLine = CopyCommandLine(QApplication::arguments());

    InstallGuiPorts();
    MainWindow* window = CreateMainWindow(commandLine, OpenFileByName, &channel);
    int code = 0;
    if (window && !window->hasClosed()) {
        // Queued, so that a close below an open dialog first lets every
        // event loop unwind; exit ends the dialogs' loops as well. (quit
        // would send every window a close event, a second close path.)
        QObject::connect(
            window, &MainWindow::closed, &app, [] { QCoreApplication::exit(0); },
            Qt::QueuedConnection);
        FitMainWindow(window);
        window->show();
        code = QApplication::exec();
    }
    delete window;
    channel.AnswerCloseRequests();
    RemoveGuiPorts();
    return code;
}
