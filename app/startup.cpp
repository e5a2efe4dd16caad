#include "app/startup.h"

#include "app/artwork.h"
#include "app/program_hooks.h"
#include "dialogs/command_operations.h"
#include "gui/gui_ports.h"
#include "platform/instance_channel.h"
#include "platform/interrupts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>

#include <memory>
#include <unistd.h>

namespace {

// How long a second copy tries to reach the first one.
constexpr int kRaiseTimeoutMs = 3000;
constexpr int kRetryMs = 20;

int ExitStatus() {
    const int signal = plat::InterruptSignal();
    return signal != 0 ? plat::InterruptExitStatus(signal) : 0;
}

} // namespace

QString CopyCommandLine(const QStringList& arguments) {
    const QString line = arguments.mid(1).join(QLatin1Char(' '));
    return line.size() <= kMaxCommandLine ? line : QString();
}

bool DeferToRunningCopy(InstanceChannel& channel) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (plat::InterruptRequested())
            return true;
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
        // Only this user's copies can hold the lock, so a holder that does
        // not answer is our own busy copy: it is deferred to all the same.
        switch (SendInstanceRequestAt(channel.socketPath(), kRaiseRequest, remaining, geteuid())) {
        case InstanceReply::Done:
        case InstanceReply::NoAnswer:
            return true;
        case InstanceReply::Foreign:
            // Someone else (the administrator) listens in our folder; it
            // must not keep us out.
            return false;
        case InstanceReply::NotRunning:
            // The holder is still starting up, or has just ended: try again.
            QThread::msleep(kRetryMs);
            break;
        }
    }
}

int RunProgram(InstanceChannel& channel, const QString& commandLine,
               const MainWindow::CommandLineHandler& handler) {
    // Readable from the first signal on, so it fires in whichever event loop
    // runs next, a dialog's during the window's creation too.
    std::unique_ptr<QSocketNotifier> interrupts;
    if (plat::InterruptNotifier() >= 0)
        interrupts =
            std::make_unique<QSocketNotifier>(plat::InterruptNotifier(), QSocketNotifier::Read);
    if (DeferToRunningCopy(channel) || plat::InterruptRequested())
        return ExitStatus();

    MainWindow* window = CreateMainWindow(commandLine, handler, &channel, interrupts.get());
    if (window && !window->hasClosed()) {
        // Queued, so that a close below an open dialog first lets every
        // event loop unwind; exit ends the dialogs' loops as well. (quit
        // would send every window a close event, a second close path.)
        QObject::connect(
            window, &MainWindow::closed, qApp, [] { QCoreApplication::exit(0); },
            Qt::QueuedConnection);
        FitMainWindow(window);
        window->show();
        QApplication::exec();
    }
    delete window;
    channel.AnswerCloseRequests();
    return ExitStatus();
}

int RunKeshlor(int& argc, char** argv) {
    // Before anything else: from here on a stop signal closes the program
    // the orderly way instead of killing it.
    plat::InstallInterruptHandlers();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("TQ"));
    QApplication::setApplicationName(QStringLiteral("Keshlor"));
    QApplication::setApplicationVersion(QStringLiteral("2.13.0.1"));
    QApplication::setDesktopFileName(QStringLiteral("org.keshlor.Keshlor"));
    QApplication::setWindowIcon(AppIcon());
    // The program ends when its main window is gone, not when the last
    // window closes (the help window may outlive a dialog, for one).
    QApplication::setQuitOnLastWindowClosed(false);

    InstanceChannel channel(InstanceChannelName());
    // The command line of a second copy is not passed on: it ends in
    // RunProgram before the line is looked at.
    const QString commandLine = CopyCommandLine(QApplication::arguments());
    InstallGuiPorts();
    InstallProgramHooks();
    const int status = RunProgram(channel, commandLine, OpenFileByName);
    RemoveProgramHooks();
    RemoveGuiPorts();
    return status;
}
