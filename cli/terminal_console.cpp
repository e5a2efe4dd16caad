#include "cli/ksr_console.h"

#include "platform/interrupts.h"
#include "platform/unique_fd.h"
#include "platform/write_all.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// What a signal handler needs to switch echo back on before the process dies.
int g_echoTerminal = -1;
struct termios g_echoSettings;
volatile sig_atomic_t g_echoIsOff = 0;

constexpr int kEchoSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Nothing is created while a password is typed, so a stop request can end
// the process here, with the status a shell expects of it.
void RestoreEchoAndRaise(int signal) {
    if (g_echoIsOff) {
        tcsetattr(g_echoTerminal, TCSAFLUSH, &g_echoSettings);
        // The prompt's line is ended, so that the shell's prompt starts on its own.
        [[maybe_unused]] const ssize_t n = write(g_echoTerminal, "\n", 1);
    }
    if (signal != SIGQUIT)
        _exit(plat::InterruptExitStatus(signal));
    ::signal(signal, SIG_DFL);
    raise(signal);
}

// True only for a line ended by a newline; input that stops before one was abandoned.
bool ReadLine(int fd, QByteArray* line) {
    // Room for any line typed, so that a password is never left behind in a
    // buffer outgrown on the way.
    line->reserve(4096);
    for (;;) {
        char c = 0;
        const ssize_t count = read(fd, &c, 1);
        // A stop request ends the question unanswered: the safe answer is taken.
        if (count < 0 && errno == EINTR && !plat::InterruptRequested())
            continue;
        if (count <= 0)
            return false;
        if (c == '\n')
            return true;
        line->append(c);
    }
}

TerminalRead AskTerminal(const QString& prompt, bool echo, QByteArray* line) {
    line->clear();
    const plat::UniqueFd terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!terminal.valid())
        return TerminalRead::NoTerminal;
    const int fd = terminal.get();
    plat::WriteAll(fd, prompt.toUtf8());

    struct termios saved;
    struct sigaction previous[std::size(kEchoSignals)];
    const bool hideInput = !echo && tcgetattr(fd, &saved) == 0;
    if (hideInput) {
        g_echoTerminal = fd;
        g_echoSettings = saved;
        struct sigaction restore;
        std::memset(&restore, 0, sizeof restore);
        restore.sa_handler = RestoreEchoAndRaise;
        sigemptyset(&restore.sa_mask);
        for (size_t i = 0; i < std::size(kEchoSignals); ++i)
            sigaction(kEchoSignals[i], &restore, &previous[i]);
        struct termios quiet = saved;
        quiet.c_lflag &= ~ECHO;
        quiet.c_lflag |= ECHONL; // the Enter key still moves to the next line
        g_echoIsOff = 1;
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    const bool complete = ReadLine(fd, line);
    if (hideInput) {
        tcsetattr(fd, TCSAFLUSH, &saved);
        g_echoIsOff = 0;
        for (size_t i = 0; i < std::size(kEchoSignals); ++i)
            sigaction(kEchoSignals[i], &previous[i], nullptr);
    }
    // An answer cut short (Ctrl+D, Ctrl+C) leaves the cursor after the prompt.
    if (!complete)
        plat::WriteAll(fd, QByteArrayLiteral("\n"));
    return complete ? TerminalRead::Line : TerminalRead::EndOfInput;
}

} // namespace

KsrConsole ProcessConsole() {
    KsrConsole console;
    console.writeOut = [](const QString& text) { plat::WriteAll(STDOUT_FILENO, text.toUtf8()); };
    console.writeError = [](const QString& text) { plat::WriteAll(STDERR_FILENO, text.toUtf8()); };
    console.askTerminal = AskTerminal;
    console.dataIn = STDIN_FILENO;
    console.dataOut = STDOUT_FILENO;
    console.errorIsTerminal = isatty(STDERR_FILENO) == 1;
    console.outputIsTerminal = isatty(STDOUT_FILENO) == 1;
    // The running program itself, even if its file was replaced meanwhile.
    if (access("/proc/self/exe", X_OK) == 0)
        console.workerProgram = QByteArrayLiteral("/proc/self/exe");
    return console;
}
