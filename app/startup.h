#pragma once
// The program's entry: the command-line copy, the single-instance rule, the
// main window, the event loop, and the stop signals.
#include "app/main_window.h"

#include <QString>
#include <QStringList>

class InstanceChannel;

// The command line after the program's name: one path taken whole, so the
// arguments are joined as they were typed; empty when it is longer than a
// path may be (plat::kLongestPath).
QString CopyCommandLine(const QStringList& arguments);

// Claims the channel, or finds the running copy and asks it to come to the
// front. True when this copy must end because another one runs, or because
// a stop signal (plat::InterruptSignal) came meanwhile.
bool DeferToRunningCopy(InstanceChannel& channel);

// The program once its application object is set up: the single-instance
// rule, the main window with `commandLine` for `handler`, the event loop.
// A stop signal (SIGINT, SIGTERM, SIGHUP, noted by plat's handlers) closes
// the program exactly as a close request from outside does: open dialogs
// are unwound and the options saved. The program's exit status: that of the
// signal that stopped it (plat::InterruptExitStatus), also when it came
// before the window existed, else 0.
int RunProgram(InstanceChannel& channel, const QString& commandLine,
               const MainWindow::CommandLineHandler& handler);

int RunKeshlor(int& argc, char** argv);
