#include "whole_command.h"

#include "stopwatch.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace bench {

std::optional<double> TimeCommand(const QStringList& command, int* exitCode, const QString& input,
                                  const QString& output) {
    std::vector<QByteArray> storage;
    for (const QString& argument : command)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    const QByteArray in = input.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(input);
    const QByteArray out = output.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(output);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.constData(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const Stopwatch watch;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    *exitCode = 127;
    if (spawned != 0)
        return std::nullopt;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    const double wall = watch.Elapsed().wall;
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (*exitCode != 0)
        return std::nullopt;
    return wall;
}

} // namespace bench
