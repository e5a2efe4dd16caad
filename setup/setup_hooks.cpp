#include "setup/setup_hooks.h"

#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/instance_channel.h"
#include "platform/unique_fd.h"
#include "setup/keshlor_setup.h"
#include "setup/launcher.h"
#include "setup/running_copies.h"
#include "setup/setup_store.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace setup {

namespace {

const char kStillRunningText[] = "Keshlor is still running: it will be closed before continuing.";
const char kCloseCaption[] = "Close Keshlor";

void RemoveFile(const QString& path) {
    unlink(QFile::encodeName(path).constData());
}

// A move between file systems: a full copy beside the target first, then
// the same one-step rename over it.
bool CopyReplacing(const QString& from, const QString& to) {
    const plat::UniqueFd in(open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!in.valid() || fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    // Owner and mode as the installer gave them; the owner only root can keep.
    plat::FileState owner;
    owner.owner = info.st_uid;
    owner.group = info.st_gid;
    return plat::ReplaceFile(to, info.st_mode & 07777, &owner,
                             [&in](int out) { return plat::CopyData(in.get(), out); });
}

// The target is replaced in one step, so it is never missing, and a move
// that fails (nothing to move, for one) leaves it as it was.
bool MoveReplacing(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (rename(source.constData(), target.constData()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    return CopyReplacing(from, to) && unlink(source.constData()) == 0;
}

} // namespace

SetupContext SystemContext() {
    SetupContext context;
    context.storePath = SystemStorePath();
    context.instance = qgetenv("KESHLOR_INSTANCE");
    context.program = qEnvironmentVariable("KESHLOR_SETUP_PROGRAM");
    return context;
}

bool CloseRunningProgram(plat::WindowHandle owner, const SetupContext& context) {
    // Channels that turned out to be held by someone else between the look and the request.
    std::set<QString> notOurs;
    for (;;) {
        const RunningCopy* copy = nullptr;
        const std::vector<RunningCopy> copies =
            FindRunningCopies(context.instance, context.program);
        for (const RunningCopy& candidate : copies) {
            if (!notOurs.count(candidate.socket)) {
                copy = &candidate;
                break;
            }
        }
        if (!copy)
            return true;
        const int answer = plat::MessageBox(owner, QString::fromLatin1(kStillRunningText),
                                            QString::fromLatin1(kCloseCaption),
                                            plat::kMbOkCancel | plat::kMbIconHand);
        if (answer != plat::kIdOk)
            return false;
        QElapsedTimer clock;
        clock.start();
        const InstanceReply reply =
            SendInstanceRequestAt(copy->socket, kCloseRequest, context.closeWaitMs, copy->owner);
        switch (reply) {
        case InstanceReply::Done:
        case InstanceReply::NotRunning:
            // It answers only once closed: look again at once.
            break;
        case InstanceReply::Foreign:
            notOurs.insert(copy->socket);
            break;
        case InstanceReply::Refused: // only open requests are refused
        case InstanceReply::NoAnswer: {
            // Also when it hung up on us at once: it gets its full time.
            const qint64 left = context.closeWaitMs - clock.elapsed();
            if (left > 0)
                QThread::msleep(static_cast<unsigned long>(left));
            break;
        }
        }
    }
}

int InstallInit(plat::WindowHandle owner, bool previouslyInstalled, const QString& installDir,
                const SetupContext& context) {
    if (!previouslyInstalled)
        return codeINSTALL_INIT_CONTINUE;
    if (!CloseRunningProgram(owner, context))
        return codeINSTALL_INIT_CANCEL;
    InstallPaths paths;
    if (ReadInstallPaths(context.storePath, &paths))
        return codeINSTALL_INIT_CONTINUE;
    // Installed without the recorded paths, the old executable sits in the
    // installation folder under its final name.
    if (QDir::isAbsolutePath(installDir))
        RemoveFile(plat::JoinPath(installDir, QLatin1String(kExecutableName)));
    return codeINSTALL_INIT_CONTINUE;
}

int InstallExit(const SetupContext& context) {
    InstallPaths paths;
    if (!ReadInstallPaths(context.storePath, &paths))
        return codeINSTALL_EXIT_DONE;
    // Only a new executable replaces the old one: run twice, or with nothing
    // unpacked, the program keeps the one copy it has.
    MoveReplacing(paths.temp, paths.app);
    RemoveFile(paths.appLink);
    CreateLauncher(paths.appLink, paths.app);
    return codeINSTALL_EXIT_DONE;
}

int UninstallInit(plat::WindowHandle owner, const SetupContext& context) {
    if (!CloseRunningProgram(owner, context))
        return codeUNINSTALL_INIT_CANCEL;
    InstallPaths paths;
    if (ReadInstallPaths(context.storePath, &paths)) {
        RemoveFile(paths.appLink);
        // Back under the name the installer gave it, for its own removal.
        MoveReplacing(paths.app, paths.temp);
    }
    return codeUNINSTALL_INIT_CONTINUE;
}

} // namespace setup
