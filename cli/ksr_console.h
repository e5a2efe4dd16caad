#pragma once
// Where ksr talks to whoever started it: the process's streams and its
// controlling terminal, or buffers when tests drive it in-process.
#include <QByteArray>
#include <QString>

#include <functional>

enum class TerminalRead {
    Line,       // a line was read
    EndOfInput, // the terminal closed or the user ended the input
    NoTerminal, // the process has no terminal to ask
};

struct KsrConsole {
    std::function<void(const QString& text)> writeOut;
    std::function<void(const QString& text)> writeError;
    // Shows `prompt` on the terminal and reads one line as typed, without its
    // newline; with `echo` false the typed characters are not shown.
    std::function<TerminalRead(const QString& prompt, bool echo, QByteArray* line)> askTerminal;
};

// Standard output, standard error and /dev/tty of this process.
KsrConsole ProcessConsole();
