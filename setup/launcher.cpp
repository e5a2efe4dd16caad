#include "setup/launcher.h"

#include "launcher_template.h"
#include "platform/files.h"

#include <QList>

namespace setup {

QString QuoteExecArgument(const QString& path) {
    // Inside the quotes: ", `, $ and \ take a backslash; a literal % is %%.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    // Then the escapes of every string value of the file.
    QString escaped;
    for (const QChar c : quoted) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else
            escaped += c;
    }
    return escaped;
}

QByteArray LauncherText(const QString& appPath) {
    QList<QByteArray> lines = QByteArray(kLauncherTemplate).split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const QByteArray command = "Exec=" + QuoteExecArgument(appPath).toUtf8();
    bool replaced = false;
    for (QByteArray& line : lines) {
        if (!line.startsWith("Exec="))
            continue;
        // The template names the program by itself; what follows it (the
        // file arguments) stays.
        const qsizetype end = line.indexOf(' ');
        line = command + (end < 0 ? QByteArray() : line.mid(end));
        replaced = true;
    }
    if (!replaced)
        lines.append(command);
    return lines.join('\n') + '\n';
}

bool CreateLauncher(const QString& linkPath, const QString& appPath) {
    // Every user's menu reads it, whatever the installer's umask.
    return plat::ReplaceFile(linkPath, LauncherText(appPath), 0644);
}

} // namespace setup
