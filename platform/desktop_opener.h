#pragma once
// Opening a file in the application the desktop has for its type, through
// the desktop's opener (xdg-open) run as a child process, so that a failure
// is known: the desktop's URL service only says whether an opener started.
#include <QString>
#include <QStringList>

namespace plat {

// How long the opener has to fail; one still running then waits for the
// application it started, so the file counts as opened.
inline constexpr int kOpenerWaitMs = 5000;

// Runs the opener on `path`. True when it ended well within kOpenerWaitMs or
// still runs then; false, with `reason` in words, when it could not be
// started or ended with a failure (its own message, or its status). Events
// other than user input are served meanwhile; an opener still running is
// left running, also when Keshlor ends.
bool OpenWithDesktop(const QString& path, QString* reason);

// The opener's program and the arguments before the path; empty restores
// xdg-open. For tests.
void SetDesktopOpener(const QStringList& command);

} // namespace plat
