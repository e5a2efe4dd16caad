#pragma once
// A program run as a user runs it, timed as a whole from start to exit.
#include <QString>
#include <QStringList>

#include <optional>

namespace bench {

// Runs `command` with standard input from `input` and standard output to
// `output` (created or emptied), /dev/null where either is empty; standard
// error is discarded. Its wall time, or nothing with `*exitCode` set when it
// did not exit with 0.
std::optional<double> TimeCommand(const QStringList& command, int* exitCode,
                                  const QString& input = QString(),
                                  const QString& output = QString());

} // namespace bench
