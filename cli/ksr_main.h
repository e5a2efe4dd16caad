#pragma once
// ksr, the terminal front end of the container engine.
#include "ksr_console.h"

#include <QStringList>

// Exit statuses. With several files, the first file that did not succeed gives the status.
enum KsrStatus : int {
    kKsrDone = 0,
    kKsrFailed = 1,   // the engine failed; its message was printed
    kKsrUsage = 2,    // nothing was touched
    kKsrBadData = 3,  // wrong password, other strength, or damaged container
    kKsrDeclined = 4, // a target existed and was not overwritten
};

// Runs ksr on `args` (without the program's name). The engine's message-box
// and option ports belong to the run and are cleared before it returns.
int RunKsr(const QStringList& args, const KsrConsole& console);
