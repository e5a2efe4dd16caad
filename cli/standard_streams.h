#pragma once
// Data between the standard streams and the engine, which works on files:
// standard input is copied into a private folder first, and a result is
// sent to standard output only once it is complete, so a decryption that
// fails never lets part of its plain data out.
#include <QString>
#include <QStringList>

// A folder of this user's alone (0700) under $TMPDIR, removed with all it
// holds when the run is done with it, stopped or not; files that held plain
// data are wiped first.
struct StagingFolder {
    QString path;
    QStringList plainFiles;
    StagingFolder() = default;
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    ~StagingFolder();
};

// False, with `problem` filled, when no such folder can be made.
bool CreateStagingFolder(StagingFolder* folder, QString* problem);
// Copies everything `fd` holds into a new private file at `path`. False with
// `problem` filled when reading or writing fails, and with it empty when a
// stop request came first.
bool StageInput(int fd, const QString& path, QString* problem);
// Writes the whole file at `path` to `fd`, with the same results.
bool SendFile(const QString& path, int fd, QString* problem);
