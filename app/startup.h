#pragma once
// The program's entry: the command-line copy, the single-instance rule, the
// main window, the event loop.
#include <QString>
#include <QStringList>

class InstanceChannel;

// Longest command line that is taken; a longer one is ignored.
inline constexpr int kMaxCommandLine = 259;

// The command line after the program's name: one path taken whole, so the
// arguments are joined as they were typed; empty when it is too long.
QString CopyCommandLine(const QStringList& arguments);

// Claims the channel, or finds the running copy and asks it to come to the
// front. True when this copy must end because another one runs.
bool DeferToRunningCopy(InstanceChannel& channel);

int RunKeshlor(int& argc, char** argv);
