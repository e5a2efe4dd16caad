#include "peak_memory.h"

#include <QFile>

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace bench {

ChildRun RunMeasured(const QString& launcher, const QString& resultPath, const QString& program,
                     const QStringList& arguments) {
    ChildRun run;
    std::vector<QByteArray> storage = {QFile::encodeName(launcher), QFile::encodeName(resultPath),
                                       QFile::encodeName(program)};
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    QFile::remove(resultPath);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return run;
    }
    QFile result(resultPath);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !result.open(QIODevice::ReadOnly))
        return run;
    const QList<QByteArray> fields = result.readAll().simplified().split(' ');
    if (fields.size() != 2)
        return run;
    bool codeOk = false;
    bool peakOk = false;
    run.exitCode = fields[0].toInt(&codeOk);
    run.peakKiB = fields[1].toLong(&peakOk);
    run.measured = codeOk && peakOk;
    return run;
}

} // namespace bench
