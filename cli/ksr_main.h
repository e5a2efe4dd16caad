#pragma once
// ksr, the terminal front end of the container engine.
#include "cli/ksr_console.h"
#include "cli/ksr_status.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

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
