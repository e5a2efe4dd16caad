// Runs a program and records its exit code and peak resident memory:
//   keshlor_run_measured RESULT_FILE PROGRAM [ARGUMENT...]
// writes "EXIT_CODE PEAK_KIB" to RESULT_FILE; the program gets this one's
// standard input and output. A separate small program,
// because Linux carries a process's peak over exec: a child forked from the
// benchmark, which holds hundreds of MiB of test data, would report the
// benchmark's peak instead of its own.
#include <cerrno>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RESULT_FILE PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0)
        return 2;
    if (pid == 0) {
        // Standard input and output are the ones this program was given.
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return 2;
    }
    std::FILE* result = std::fopen(argv[1], "w");
    if (!result)
        return 2;
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::fprintf(result, "%d %ld\n", exitCode, usage.ru_maxrss);
    return std::fclose(result) == 0 ? 0 : 2;
}
