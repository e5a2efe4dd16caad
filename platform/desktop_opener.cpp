#include "platform/desktop_opener.h"

#include <QEventLoop>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <unistd.h>

namespace plat {

namespace {

// What the opener said last is enough to tell why.
constexpr qsizetype kLongestReason = 400;

QStringList& OpenerCommand() {
    static QStringList command;
    return command;
}

QString OpenerMessage(QTemporaryFile& errors) {
    errors.seek(0);
    QString text = QString::fromLocal8Bit(errors.readAll()).trimmed();
    if (text.size() > kLongestReason)
        text = QStringLiteral("\u2026") + text.right(kLongestReason - 1);
    return text;
}

} // namespace

bool OpenWithDesktop(const QString& path, QString* reason) {
    QStringList command = OpenerCommand();
    if (command.isEmpty())
        command = {QStringLiteral("xdg-open")};
    const QString program = command.takeFirst();

    // The opener's messages go to a file rather than a pipe: an opener that
    // outlives the wait, or Keshlor, must not be stopped by a closed pipe.
    QTemporaryFile errors;
    const bool keepsErrors = errors.open();
    // Left running past the wait, it must outlive this call, and the
    // application it waits for must outlive Keshlor: never deleted then.
    auto* opener = new QProcess;
    opener->setProgram(program);
    opener->setArguments(command << path);
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setStandardOutputFile(QProcess::nullDevice());
    if (keepsErrors)
        opener->setStandardErrorFile(errors.fileName());
    else
        opener->setStandardErrorFile(QProcess::nullDevice());
    // Its own session: a stop signal meant for Keshlor's terminal is not its.
    opener->setChildProcessModifier([] { ::setsid(); });

    QEventLoop wait;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    QObject::connect(opener, &QProcess::finished, &wait, &QEventLoop::quit);
    QObject::connect(opener, &QProcess::errorOccurred, &wait,
                     [&wait](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             wait.quit();
                     });
    opener->start();
    if (opener->state() != QProcess::NotRunning) {
        limit.start(kOpenerWaitMs);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }

    if (opener->error() == QProcess::FailedToStart) {
        *reason =
            QStringLiteral("%1 could not be started (%2).").arg(program, opener->errorString());
        delete opener;
        return false;
    }
    if (opener->state() != QProcess::NotRunning) {
        QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
        return true;
    }
    const bool opened = opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
    if (!opened) {
        const QString said = OpenerMessage(errors);
        const QString how =
            opener->exitStatus() == QProcess::NormalExit
                ? QStringLiteral("%1 ended with status %2").arg(program).arg(opener->exitCode())
                : QStringLiteral("%1 stopped unexpectedly").arg(program);
        *reason = said.isEmpty() ? how + QLatin1Char('.') : how + QStringLiteral(": ") + said;
    }
    delete opener;
    return opened;
}

void SetDesktopOpener(const QStringList& command) {
    OpenerCommand() = command;
}

} // namespace plat
