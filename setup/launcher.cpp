#include "setup/launcher.h"

#include "launcher_template.h"
#include "platform/unique_fd.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const QByteArray name = QFile::encodeName(linkPath);
    plat::UniqueFd file(
        open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file.valid())
        return false;
    const int fd = file.get();
    // Every user's menu reads it, whatever the installer's umask.
    bool ok = fchmod(fd, 0644) == 0;
    const QByteArray text = LauncherText(appPath);
    qsizetype written = 0;
    while (ok && written < text.size()) {
        const ssize_t n =
            write(fd, text.constData() + written, static_cast<size_t>(text.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            written += n;
    }
    ok = file.close() && ok;
    if (!ok)
        unlink(name.constData());
    return ok;
}

} // namespace setup
