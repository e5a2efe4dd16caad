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
    // Descriptors for data read from standard input and written to standard
    // output (ksr encrypt -, --stdout); -1 where there are none.
    int dataIn = -1;
    int dataOut = -1;
    bool errorIsTerminal = false;  // progress lines may be drawn on standard error
    bool outputIsTerminal = false; // standard output is a terminal: no container goes there
    // The program that runs one file of a --jobs run in a process of its own;
    // empty where there is none to start, and the files are done in turn here.
    QByteArray workerProgram;
};

// Standard output, standard error and /dev/tty of this process.
KsrConsole ProcessConsole();
