#pragma once
// The program's launcher: its desktop entry, whose command is the path of
// the executable in double quotes.
#include <QByteArray>
#include <QString>

namespace setup {

// `path` as one quoted argument of a desktop entry's Exec key, escaped so
// that quotes, dollars, backslashes, percents and line ends in it survive.
QString QuoteExecArgument(const QString& path);

// The program's desktop entry with the quoted `appPath` as its command.
QByteArray LauncherText(const QString& appPath);

// Writes the launcher at `linkPath` in one step, as plat::ReplaceFile does;
// readable by every user. False when it could not be written (nothing is left
// behind).
bool CreateLauncher(const QString& linkPath, const QString& appPath);

} // namespace setup
