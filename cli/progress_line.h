#pragma once
// How far a long file has got, on one line of a terminal's standard error:
// redrawn in place, and cleared before anything else is written there.
#include "cli/ksr_console.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>

// Files smaller than this are done before a line would be worth reading.
inline constexpr uint64_t kProgressThreshold = 4 * 1024 * 1024;

struct ProgressLine {
    const KsrConsole* console = nullptr;
    QString subject;
    QElapsedTimer clock;
    qint64 drawnAt = 0;
    bool shown = false;
};

// Starts the clock for a new file, named `subject` on the line.
void StartProgress(ProgressLine* line, const QString& subject);
// Redraws the line at most a few times a second, for files above the threshold.
void ShowProgress(ProgressLine* line, uint64_t done, uint64_t total);
// Removes the line, if one is shown.
void ClearProgress(ProgressLine* line);
// "12.0 MiB of 40.0 MiB, 8.0 MiB/s, 0:04 left" after `elapsedMs`.
QString ProgressText(uint64_t done, uint64_t total, qint64 elapsedMs);
