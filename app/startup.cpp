#include "app/startup.h"

#include "app/artwork.h"
#include "app/program_hooks.h"
#include "commands/file_commands.h"
#include "gui/gui_ports.h"
#include "platform/instance_channel.h"
#include "platform/interrupts.h"
#include "platform/path_limits.h"
#include "platform/version.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// Bad arguments, as ksr has it.
constexpr int kUsageStatus = 2;

constexpr char kUsageText[] = R"(Usage: keshlor [OPTION]... [FILE]...

Without a FILE, opens Keshlor's window. Given files, encrypts each FILE into
FILE.ksr, or decrypts it when its name ends in ".ksr" (any letter case), one
after another, asking for the password, and ends without showing the window.
While Keshlor already runs, the files go to its window instead, which handles
them in turn once its open dialogs are done.

  -h, --help     show this help and exit
      --version  show the version and exit
  --             end of options; every argument after it is a FILE

A FILE may be relative to the working folder. One whose path is too long for
the system (over 4095 bytes, or a name over 255, or over 251 to encrypt, so
that ".ksr" fits) is refused with a message.
)";

int ExitStatus() {
    const int signal = plat::InterruptSignal();
    return signal != 0 ? plat::InterruptExitStatus(signal) : 0;
}

bool IsHelpOption(const QString& argument) {
    return argument == QLatin1String("-h") || argument == QLatin1String("--help");
}

} // namespace

QString AbsoluteArgumentPath(const QString& argument, const QString& workingFolder) {
    const QChar separator = QLatin1Char('/');
    // Not QDir::isAbsolutePath, which takes ":name" for one of Qt's resources.
    const QString joined =
        argument.startsWith(separator) ? argument : workingFolder + separator + argument;
    if (!joined.startsWith(separator))
        return {};
    QStringList parts = joined.split(separator, Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    return separator + parts.join(separator);
}

CommandLine ReadCommandLine(const QStringList& arguments, const QString& workingFolder) {
    CommandLine line;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    for (const QString& argument : arguments.mid(1)) {
        if (!optionsEnded && argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            if (argument == QLatin1String("--"))
                optionsEnded = true;
            else if (IsHelpOption(argument))
                help = true;
            else if (argument == QLatin1String("--version"))
                version = true;
            else if (line.unknownOption.isEmpty())
                line.unknownOption = argument;
            continue;
        }
        if (argument.isEmpty())
            continue;
        const QString path = AbsoluteArgumentPath(argument, workingFolder);
        if (!path.isEmpty())
            line.paths.append(path);
    }
    if (help)
        line.action = CommandLine::Action::Help;
    else if (version)
        line.action = CommandLine::Action::Version;
    else if (!line.unknownOption.isEmpty())
        line.action = CommandLine::Action::UnknownOption;
    return line;
}

int RunProgram(InstanceChannel& channel, const QStringList& files,
               const MainWindow::CommandLineHandler& handler) {
    // Readable from the first signal on, so it fires in whichever event loop
    // runs next, a dialog's during the window's creation too.
    std::unique_ptr<QSocketNotifier> interrupts;
    if (plat::InterruptNotifier() >= 0)
        interrupts =
            std::make_unique<QSocketNotifier>(plat::InterruptNotifier(), QSocketNotifier::Read);
    // No request to the running copy carries these; they are refused here,
    // as it would refuse them.
    QStringList tooLong;
    QStringList ours;
    for (const QString& path : files)
        (plat::PathBytes(path) > kMaxOpenPathBytes ? tooLong : ours).append(path);
    if (DeferToRunningCopy(channel, &ours) || plat::InterruptSignal() != 0) {
        for (const QString& path : tooLong) {
            if (!handler || plat::InterruptSignal() != 0)
                break;
            handler(nullptr, path);
        }
        return ExitStatus();
    }
    ours += tooLong;

    MainWindow* window = CreateMainWindow(ours, handler, &channel, interrupts.get());
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
    // Answered before Qt starts, so that they need no window system. Qt's
    // own options are still among the arguments here: only these two count.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw.append(QFile::decodeName(argv[i]));
    switch (ReadCommandLine(raw, QString()).action) {
    case CommandLine::Action::Help:
        std::fputs(kUsageText, stdout);
        return 0;
    case CommandLine::Action::Version:
        std::printf("TQ Keshlor %s\n", plat::kProgramVersion);
        return 0;
    case CommandLine::Action::Run:
    case CommandLine::Action::UnknownOption:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("TQ"));
    QApplication::setApplicationName(QStringLiteral("Keshlor"));
    QApplication::setApplicationVersion(QString::fromLatin1(plat::kProgramVersion));
    QApplication::setDesktopFileName(QStringLiteral("org.keshlor.Keshlor"));
    QApplication::setWindowIcon(AppIcon());
    // The program ends when its main window is gone, not when the last
    // window closes (the help window may outlive a dialog, for one).
    QApplication::setQuitOnLastWindowClosed(false);

    // Without Qt's options now, which the application object has taken.
    const CommandLine commandLine = ReadCommandLine(QApplication::arguments(), QDir::currentPath());
    if (commandLine.action == CommandLine::Action::UnknownOption) {
        std::fprintf(stderr,
                     "keshlor: unknown option '%s'\nTry 'keshlor --help' for more information.\n",
                     qPrintable(commandLine.unknownOption));
        return kUsageStatus;
    }
    InstanceChannel channel(InstanceChannelName());
    InstallGuiPorts();
    InstallProgramHooks();
    const int status = RunProgram(channel, commandLine.paths, OpenFileByName);
    RemoveProgramHooks();
    RemoveGuiPorts();
    return status;
}
