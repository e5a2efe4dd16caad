#include "cli/ksr_main.h"

#include "cli/ksr_arguments.h"
#include "cli/password_input.h"
#include "cli/stored_options.h"
#include "cli/terminal_messages.h"
#include "engine/container_name.h"
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "engine/error_report.h"
#include "engine/wipe.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"
#include "platform/path_limits.h"
#include "platform/secure_memory.h"

#include <QFile>
#include <QHash>
#include <QList>

#include <optional>

namespace {

struct FileJob {
    bool encrypt = true;
    QString named; // as given on the command line
    QString plainPath;
    QString containerPath;
    // The name's bytes when they do not survive the conversion to text: the
    // text would name another file, or none.
    std::optional<QByteArray> unfaithful;
};

// The name's bytes for the terminal, with each byte that is not part of text shown as \xHH.
QString ShownBytes(const QByteArray& bytes) {
    QString shown;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const uchar lead = static_cast<uchar>(bytes[at]);
        const qsizetype length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        const QByteArray piece = bytes.mid(at, length);
        if (lead < 0x80 || (lead >= 0xC0 && lead < 0xF8 && piece.size() == length &&
                            QFile::encodeName(QFile::decodeName(piece)) == piece)) {
            shown += QFile::decodeName(piece);
            at += length;
        } else {
            shown += QStringLiteral("\\x%1").arg(lead, 2, 16, QLatin1Char('0'));
            ++at;
        }
    }
    return shown;
}

// Ports are process-wide; a run must not leave its terminal and flags behind.
struct PortsOfRun {
    PortsOfRun(TerminalMessages* messages, const EngineOptions& options) {
        plat::SetMessageBoxPort([messages](plat::WindowHandle, const QString& text,
                                           const QString& caption, uint32_t style) {
            return ShowTerminalMessage(messages, text, caption, style);
        });
        plat::SetOptionPort([options](uint16_t id) {
            switch (id) {
            case HighEncryption:
                return options.high ? 1 : 0;
            case FastCompression:
                return options.fast ? 1 : 0;
            case HideEncrypted:
                return options.hide ? 1 : 0;
            case WipePlainFiles:
                return options.wipe ? 1 : 0;
            default:
                return 1;
            }
        });
    }
    ~PortsOfRun() {
        plat::SetMessageBoxPort({});
        plat::SetOptionPort({});
    }
    PortsOfRun(const PortsOfRun&) = delete;
    PortsOfRun& operator=(const PortsOfRun&) = delete;
};

int UsageError(const KsrConsole& console, const QString& problem) {
    console.writeError(
        QStringLiteral("ksr: %1\nTry 'ksr --help' for more information.\n").arg(problem));
    return kKsrUsage;
}

// The paths for one named file; false, with `problem` filled, when it cannot be done.
bool PlanJob(KsrCommand command, const QString& named, FileJob* job, QString* problem) {
    if (named.isEmpty()) {
        *problem = QStringLiteral("an empty file name");
        return false;
    }
    job->named = named;
    job->encrypt = command == KsrCommand::Encrypt ||
                   (command == KsrCommand::ByName && !IsContainerName(named));
    if (job->encrypt) {
        // ksr builds no longer paths than the program does.
        if (named.size() > kLongestPlainPath) {
            *problem = QStringLiteral("%1: too long to take the .ksr extension (a path may have "
                                      "at most %2 characters)")
                           .arg(named)
                           .arg(plat::kLongestPath);
            return false;
        }
        job->plainPath = named;
        job->containerPath = ContainerNameFor(named);
        return true;
    }
    if (!IsContainerName(named)) {
        *problem = QStringLiteral("%1: not a container: its name does not end in .ksr").arg(named);
        return false;
    }
    if (named.size() > plat::kLongestPath) {
        *problem = QStringLiteral("%1: too long (a path may have at most %2 characters)")
                       .arg(named)
                       .arg(plat::kLongestPath);
        return false;
    }
    job->containerPath = named;
    job->plainPath = ContainerDisplayName(named);
    if (job->plainPath.endsWith(QLatin1Char('/'))) {
        *problem = QStringLiteral("%1: no file name before .ksr").arg(named);
        return false;
    }
    return true;
}

// The password a script handed over in a file or descriptor.
int ReadScriptPassword(const KsrArguments& arguments, const KsrConsole& console,
                       QString* password) {
    QByteArray bytes;
    QString problem;
    bool readableByOthers = false;
    const bool read =
        arguments.passwordFile
            ? ReadPasswordFile(*arguments.passwordFile, &bytes, &problem, &readableByOthers)
            : ReadPasswordDescriptor(*arguments.passwordFd, &bytes, &problem);
    if (!read) {
        const QString source = arguments.passwordFile
                                   ? *arguments.passwordFile
                                   : QStringLiteral("descriptor %1").arg(*arguments.passwordFd);
        return UsageError(
            console, QStringLiteral("cannot read the password from %1: %2").arg(source, problem));
    }
    if (readableByOthers)
        console.writeError(QStringLiteral("ksr: warning: %1 can be read by other users; keep "
                                          "password files private (chmod 600).\n")
                               .arg(*arguments.passwordFile));
    DropFinalNewline(&bytes);
    const bool decoded = DecodePassword(bytes, password, &problem);
    plat::ForgetSecret(&bytes);
    return decoded ? kKsrDone : UsageError(console, problem);
}

// The password typed at the terminal; a new one is typed twice.
int ReadTerminalPassword(bool confirm, const KsrConsole& console, QString* password) {
    QByteArray bytes;
    switch (console.askTerminal(QStringLiteral("Password: "), false, &bytes)) {
    case TerminalRead::Line:
        break;
    case TerminalRead::EndOfInput:
        return UsageError(console, QStringLiteral("no password given"));
    case TerminalRead::NoTerminal:
        return UsageError(console, QStringLiteral("no terminal to read the password from; give "
                                                  "--password-file or --password-fd"));
    }
    if (confirm) {
        QByteArray again;
        const TerminalRead read =
            console.askTerminal(QStringLiteral("Confirm password: "), false, &again);
        const bool same = read == TerminalRead::Line && again == bytes;
        plat::ForgetSecret(&again);
        if (!same) {
            plat::ForgetSecret(&bytes);
            if (read != TerminalRead::Line)
                return UsageError(console, QStringLiteral("no confirmation given"));
            console.writeError(
                QStringLiteral("ksr: Password and confirmation strings do not match.\n"));
            return kKsrUsage;
        }
    }
    QString problem;
    const bool decoded = DecodePassword(bytes, password, &problem);
    plat::ForgetSecret(&bytes);
    return decoded ? kKsrDone : UsageError(console, problem);
}

// A name that would lead to another file is refused as a file that cannot be opened.
int RefuseUnfaithfulName(const FileJob& job) {
    plat::RefuseUnfaithfulName(ShownBytes(*job.unfaithful));
    RecordError(job.encrypt ? kPlainOpenFailed : kContainerOpenFailed);
    ReportError(nullptr, job.encrypt ? QStringLiteral("Encryption Error")
                                     : QStringLiteral("Decryption Error"));
    return kKsrFailed;
}

// Nothing was changed; the process ends as one stopped by the signal does.
int Stopped(const TerminalMessages& messages) {
    PrintMessage(messages, QString(),
                 QStringLiteral("stopped by a signal; the file was left as it was"));
    return plat::InterruptExitStatus(plat::InterruptSignal());
}

int EncryptOne(const FileJob& job, const QString& password, const TerminalMessages& messages) {
    switch (EncryptFileToContainer(nullptr, job.plainPath, job.containerPath, password)) {
    case EncryptResult::Ok:
        break;
    case EncryptResult::Declined:
        return kKsrDeclined;
    case EncryptResult::Cancelled:
        return Stopped(messages);
    case EncryptResult::Failed:
        ReportError(nullptr, QStringLiteral("Encryption Error"));
        return kKsrFailed;
    }
    // The container is complete; a script must still hear when the plain file was not removed
    // as asked (its own message was printed) or lost its wipe.
    switch (LastDisposeOutcome()) {
    case DisposeOutcome::Removed:
        return kKsrDone;
    case DisposeOutcome::RemovedUnwiped:
        PrintMessage(messages, QStringLiteral("Can't wipe!"),
                     QStringLiteral("the wipe was abandoned, so the file was deleted without "
                                    "its data being overwritten."));
        return kKsrFailed;
    case DisposeOutcome::Kept:
    case DisposeOutcome::KeptAside:
        break;
    }
    return kKsrFailed;
}

int DecryptOne(const FileJob& job, const QString& password, const TerminalMessages& messages) {
    switch (DecryptContainerToFile(nullptr, job.containerPath, job.plainPath, password)) {
    case DecryptResult::Ok: {
        const ContainerRemoval removal = LastContainerRemoval();
        if (removal.removed)
            return kKsrDone;
        PrintMessage(messages, QStringLiteral("Delete Error"),
                     QStringLiteral("the file was decrypted, but the container could not be "
                                    "deleted: ") +
                         ErrorMessage(kFileNotDeleted, removal.lastError));
        return kKsrFailed;
    }
    case DecryptResult::Cancelled:
        return Stopped(messages);
    case DecryptResult::BadData:
        // The container cannot say which strength it was made with; name the other one.
        PrintMessage(messages, QStringLiteral("Bad Password?"),
                     IsOptionChecked(HighEncryption)
                         ? QStringLiteral("Decryption failed: wrong password, a container "
                                          "encrypted with high encryption off (try --low), or "
                                          "a damaged container.")
                         : QStringLiteral("Decryption failed: wrong password, a container "
                                          "encrypted with high encryption on (try --high), or "
                                          "a damaged container."));
        return kKsrBadData;
    case DecryptResult::Declined:
        return kKsrDeclined;
    case DecryptResult::Failed:
        break;
    }
    ReportError(nullptr, QStringLiteral("Decryption Error"));
    return kKsrFailed;
}

} // namespace

int RunKsr(const QStringList& args, const KsrConsole& console) {
    QList<QByteArray> bytes;
    for (const QString& arg : args)
        bytes.append(QFile::encodeName(arg));
    return RunKsr(bytes, console);
}

int RunKsr(const QList<QByteArray>& rawArgs, const KsrConsole& console) {
    QStringList args;
    QHash<QString, QByteArray> unfaithful;
    for (const QByteArray& raw : rawArgs) {
        args.append(QFile::decodeName(raw));
        if (!plat::IsFaithfulArgument(raw.constData()))
            unfaithful.insert(args.last(), raw);
    }
    KsrArguments arguments;
    QString problem;
    if (!ParseKsrArguments(args, &arguments, &problem))
        return UsageError(console, problem);
    if (arguments.help) {
        console.writeOut(KsrHelpText());
        return kKsrDone;
    }

    QList<FileJob> jobs;
    bool anyEncrypt = false;
    for (const QString& named : arguments.files) {
        FileJob job;
        if (!PlanJob(arguments.command, named, &job, &problem))
            return UsageError(console, problem);
        if (unfaithful.contains(named))
            job.unfaithful = unfaithful.value(named);
        anyEncrypt = anyEncrypt || job.encrypt;
        jobs.append(job);
    }

    EngineOptions options = StoredEngineOptions();
    options.high = arguments.high.value_or(options.high);
    options.fast = arguments.fast.value_or(options.fast);
    options.hide = arguments.hide.value_or(options.hide);
    options.wipe = arguments.wipe.value_or(options.wipe);

    QString password;
    // One password serves every file of the run.
    const int passwordStatus = arguments.passwordFile || arguments.passwordFd
                                   ? ReadScriptPassword(arguments, console, &password)
                                   : ReadTerminalPassword(anyEncrypt, console, &password);
    if (passwordStatus != kKsrDone)
        return passwordStatus;

    TerminalMessages messages;
    messages.console = &console;
    messages.preset = arguments.answer;
    const PortsOfRun ports(&messages, options);
    int status = kKsrDone;
    for (const FileJob& job : jobs) {
        if (plat::InterruptRequested())
            break;
        BeginSubject(&messages, job.unfaithful ? ShownBytes(*job.unfaithful) : job.named);
        const int outcome = job.unfaithful ? RefuseUnfaithfulName(job)
                            : job.encrypt  ? EncryptOne(job, password, messages)
                                           : DecryptOne(job, password, messages);
        if (status == kKsrDone)
            status = outcome;
    }
    // A stop request ends the run with the signal's status, whatever came before.
    if (plat::InterruptRequested())
        status = plat::InterruptExitStatus(plat::InterruptSignal());
    plat::ForgetSecret(&password);
    return status;
}
