#pragma once
// The program's entry: the command line, the single-instance rule (a second
// copy hands its files to the running one), the main window, the event loop,
// and the stop signals.
#include "app/main_window.h"

#include <QString>
#include <QStringList>

class InstanceChannel;

struct CommandLine {
    enum class Action { Run, Help, Version, UnknownOption };
    Action action = Action::Run;
    // Absolute, in the order given.
    QStringList paths;
    // The first argument that looked like an option and is none of ours.
    QString unknownOption;
};

// Reads the program's arguments (its name first). Each argument is one path,
// made absolute against `workingFolder` (AbsoluteArgumentPath); an empty one
// is passed over, and one too long is kept for the handler to refuse. Before
// "--", "-h" or "--help" asks for the usage and "--version" for the version,
// and any other argument beginning with "-" (but "-" itself) is an unknown
// option.
CommandLine ReadCommandLine(const QStringList& arguments, const QString& workingFolder);

// `argument` as an absolute path: joined to `workingFolder` unless it begins
// with "/", without its "." parts and doubled separators. ".." parts stay
// and symbolic links are not resolved, so the path names what the system
// would have opened from the working folder. Empty when there is no absolute
// working folder to join it to.
QString AbsoluteArgumentPath(const QString& argument, const QString& workingFolder);

// The program once its application object is set up: the single-instance
// rule, the main window with the `files` of the command line for `handler`,
// the event loop. Files too long to hand over go to `handler` (with no
// owner) also when another copy runs, so that they are refused, not lost. A
// stop signal (SIGINT, SIGTERM, SIGHUP, noted by plat's handlers) closes the
// program exactly as a close request from outside does: open dialogs are
// unwound and the options saved. The program's exit status: that of the
// signal that stopped it (plat::InterruptExitStatus), also when it came
// before the window existed, else 0.
int RunProgram(InstanceChannel& channel, const QStringList& files,
               const MainWindow::CommandLineHandler& handler);

int RunKeshlor(int& argc, char** argv);
