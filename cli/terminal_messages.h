#pragma once
// The engine's message boxes on a terminal. Every message goes to standard
// error with the file it concerns and its caption; a question is answered in
// advance (--yes, --no), on the terminal, or with the safe answer.
#include "cli/ksr_arguments.h"
#include "cli/ksr_console.h"

#include <QString>
#include <cstdint>

// --yes retries a wipe that keeps failing this many times, then cancels, so
// that a file that can never be wiped does not hold the run forever.
inline constexpr int kPresetRetryLimit = 3;

struct TerminalMessages {
    const KsrConsole* console = nullptr;
    PresetAnswer preset = PresetAnswer::None;
    QString subject;       // the file being worked on
    int presetRetries = 0; // Retry answers --yes has given for this subject
    // The overwrite question was asked and answered Yes before the run took
    // the subject: it is not asked again.
    bool overwriteAnswered = false;
};

// The caption of the engine's question before it replaces an existing target.
inline const QString kOverwriteCaption = QStringLiteral("OK to overwrite?");

// Starts a new file: its name leads every line, --yes may retry again, and
// no overwrite question has been answered for it.
void BeginSubject(TerminalMessages* messages, const QString& subject);
// Writes "ksr: SUBJECT: CAPTION: TEXT" to standard error, on one line, with
// control characters escaped (EscapeForTerminal); a caption that ends in its
// own mark ("OK to overwrite?") is followed by a space only, and an error
// code "(code 21-2)" gets the system's words for its second number.
void PrintMessage(const TerminalMessages& messages, const QString& caption, const QString& text);
// The text with control characters shown as \xHH and marks that reorder
// text as \uHHHH, so that a file name cannot rewrite the terminal.
QString EscapeForTerminal(const QString& text);
// The message-box port: prints the message and returns the answer.
int ShowTerminalMessage(TerminalMessages* messages, const QString& text, const QString& caption,
                        uint32_t style);
