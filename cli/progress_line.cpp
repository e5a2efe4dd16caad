#include "cli/progress_line.h"

#include "cli/terminal_messages.h"

namespace {

// Long enough to measure a rate, short enough to look alive.
constexpr qint64 kRedrawIntervalMs = 250;
// Room for the numbers on an 80-column terminal.
constexpr qsizetype kLongestShownName = 32;

QString Size(double bytes) {
    constexpr double kMiB = 1024.0 * 1024.0;
    if (bytes >= 1024.0 * kMiB)
        return QStringLiteral("%1 GiB").arg(bytes / (1024.0 * kMiB), 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(bytes / kMiB, 0, 'f', 1);
}

QString Duration(uint64_t seconds) {
    const QLatin1Char zero('0');
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, zero)
            .arg(seconds % 60, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, zero);
}

// The end of a long name says most about it.
QString ShownName(const QString& subject) {
    const QString escaped = EscapeForTerminal(subject);
    if (escaped.size() <= kLongestShownName)
        return escaped;
    return QStringLiteral("\u2026") + escaped.right(kLongestShownName - 1);
}

} // namespace

QString ProgressText(uint64_t done, uint64_t total, qint64 elapsedMs) {
    QString text = QStringLiteral("%1 of %2").arg(Size(done), Size(total));
    if (elapsedMs <= 0 || done == 0)
        return text;
    const double rate = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
    const uint64_t left = done >= total ? 0 : static_cast<uint64_t>((total - done) / rate + 0.5);
    return text + QStringLiteral(", %1/s, %2 left").arg(Size(rate), Duration(left));
}

void StartProgress(ProgressLine* line, const QString& subject) {
    line->subject = subject;
    line->clock.start();
    line->drawnAt = 0;
}

void ShowProgress(ProgressLine* line, uint64_t done, uint64_t total) {
    if (total < kProgressThreshold || !line->clock.isValid())
        return;
    const qint64 now = line->clock.elapsed();
    if (now - line->drawnAt < kRedrawIntervalMs)
        return;
    line->drawnAt = now;
    // Erasing to the end of the line removes what a longer text left before.
    line->console->writeError(QStringLiteral("\rksr: %1: %2\x1b[K")
                                  .arg(ShownName(line->subject), ProgressText(done, total, now)));
    line->shown = true;
}

void ClearProgress(ProgressLine* line) {
    if (!line->shown)
        return;
    line->console->writeError(QStringLiteral("\r\x1b[K"));
    line->shown = false;
}
