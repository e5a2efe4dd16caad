#pragma once
// ksr, the terminal front end of the container engine.
#include "cli/ksr_console.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// Exit statuses. With several files, the first file that did not succeed gives the status.
enum KsrStatus : int {
    kKsrDone = 0,
    kKsrFailed = 1,   // the engine failed; its message was printed
    kKsrUsage = 2,    // nothing was touched
    kKsrBadData = 3,  // wrong password, other strength, or damaged container
    kKsrDeclined = 4, // a target existed and was not overwritten
    // The reader of standard output went away (128 + SIGPIPE, as a shell shows
    // a process that SIGPIPE ended); nothing is left behind.
    kKsrReaderGone = 141,
};

// Runs ksr on `args` (without the program's name), as the process got them:
// file names are bytes, and a name that does not convert to text and back
// unchanged is refused rather than taken for another. The engine's
// message-box and option ports belong to the run and are cleared before it
// returns. After SIGINT, SIGTERM or SIGHUP (with plat::InstallInterruptHandlers
// in place) the run stops at the next piece of data, removes what it created,
// keeps the source, and returns 128 + the signal's number.
int RunKsr(const QList<QByteArray>& args, const KsrConsole& console);
// The same with arguments given as text (tests, callers in-process).
int RunKsr(const QStringList& args, const KsrConsole& console);
