#pragma once
// Several files at once (--jobs): each file in a worker process of its own,
// since the engine's pending error, ports and fault seams belong to the whole
// process. A worker is ksr started again for one file, with the run's
// options as flags and the password over a pipe. Its messages and questions
// come back over a channel, so that the run shows each file's messages whole
// and in the order the files were given, and asks one question at a time.
#include "cli/ksr_console.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct WorkerFile {
    QString subject;        // how messages about the file name it
    QList<QByteArray> args; // the worker's arguments for this file, after those
                            // that name its channel and password descriptor
};

// Runs `files` in up to `jobs` workers of `program`, each handed
// `passwordLine` (the password and a final newline) on its password
// descriptor. Returns the status of the first file, in the order given, that
// did not succeed; after a stop request the signal's status, once every
// worker has been told to stop and has ended.
int RunInWorkers(const QByteArray& program, const QList<WorkerFile>& files, int jobs,
                 const QByteArray& passwordLine, const KsrConsole& console);

// The console of a worker process: messages and questions go to the run that
// started it, over `channel`.
KsrConsole WorkerConsole(int channel);
