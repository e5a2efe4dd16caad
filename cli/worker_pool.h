#pragma once
// Several files at once (--jobs): up to N worker processes, started once,
// each taking the next file from the run until none is left, since the
// engine's pending error, ports and fault seams belong to the whole process.
// A worker is ksr started again with the run's options as flags and the
// password, length first, over a pipe. Its messages and questions come back
// over a channel, so that the run shows each file's messages whole and in the
// order the files were given, and asks one question at a time.
#include "cli/ksr_console.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct WorkerFile {
    QString subject; // how messages about the file name it
    QByteArray job;  // what the worker is to do, as the worker reads it
    // Files of one group touch the same files: they run one after another,
    // in the order given, in one worker.
    int group = 0;
    // A file the run settled without a worker: its status, and what to
    // show in its place in the order.
    std::optional<int> settled;
    QString settledText;
};

// Runs `files` in up to `jobs` workers of `program` started with
// `workerArgs` after those that name their channel and password, each
// handed `password` (the password's UTF-8 bytes, exactly). Returns the
// status of the first file, in the order given, that did not succeed; after
// a stop request the signal's status, once every worker has been told to stop
// and has ended.
int RunInWorkers(const QByteArray& program, const QList<QByteArray>& workerArgs,
                 const QList<WorkerFile>& files, int jobs, const QByteArray& password,
                 const KsrConsole& console);

// The console of a worker process: messages and questions go to the run that
// started it, over `channel`.
KsrConsole WorkerConsole(int channel);
// In a worker: reads the password the run handed over on `fd`, byte for byte.
// False, with `problem` filled, when it did not arrive whole.
bool ReadWorkerPassword(int fd, QByteArray* bytes, QString* problem);
// In a worker: takes files from the run over `channel` until it has no more,
// does each with `runFile` (given the job, returning its status) and tells
// the run how each ended; after another worker died, searches folders for
// leftovers afresh. Returns the worker's exit status.
int ServeWorkerFiles(int channel, const std::function<int(const QByteArray& job)>& runFile);
