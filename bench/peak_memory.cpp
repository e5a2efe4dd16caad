#include "peak_memory.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace bench {

ChildRun RunMeasured(const QString& launcher, const QString& resultPath, const QString& program,
                     const QStringList& arguments, const QString& input, const QString& output) {
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
    const QByteArray in = input.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(input);
    const QByteArray out = output.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(output);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.constData(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
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
