#include "cli/ksr_main.h"

#include "cli/ksr_arguments.h"
#include "cli/password_input.h"
#include "cli/progress_line.h"
#include "cli/standard_streams.h"
#include "cli/stored_options.h"
#include "cli/terminal_messages.h"
#include "cli/worker_pool.h"
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
#include "platform/version.h"

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
    bool fromInput = false; // the source is standard input
    bool toOutput = false;  // the result goes to standard output
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

// What messages about the file call it.
QString Subject(const FileJob& job) {
    if (job.fromInput)
        return QStringLiteral("standard input");
    return job.unfaithful ? ShownBytes(*job.unfaithful) : job.named;
}

// Ports are process-wide; a run must not leave its terminal and flags behind.
struct PortsOfRun {
    PortsOfRun(TerminalMessages* messages, const EngineOptions& options, ProgressLine* progress) {
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
        if (progress)
            plat::SetProgressPort(
                [progress](uint64_t done, uint64_t total) { ShowProgress(progress, done, total); });
    }
    ~PortsOfRun() {
        plat::SetMessageBoxPort({});
        plat::SetOptionPort({});
        plat::SetProgressPort({});
    }
    PortsOfRun(const PortsOfRun&) = delete;
    PortsOfRun& operator=(const PortsOfRun&) = delete;
};

int UsageError(const KsrConsole& console, const QString& problem) {
    console.writeError(
        QStringLiteral("ksr: %1\nTry 'ksr --help' for more information.\n").arg(problem));
    return kKsrUsage;
}

QString PathLimitsText() {
    return QStringLiteral("a path may have at most %1 bytes and a name %2")
        .arg(plat::kLongestPathBytes)
        .arg(plat::kLongestNameBytes);
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
        // ksr takes and builds the same paths as the program does.
        if (!plat::ContainerPathFits(named)) {
            *problem = QStringLiteral("%1: too long to take the .ksr extension (%2)")
                           .arg(named, PathLimitsText());
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
    if (!plat::PathFits(named)) {
        *problem = QStringLiteral("%1: too long (%2)").arg(named, PathLimitsText());
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

int EncryptOne(const FileJob& job, const QString& password, const TerminalMessages& messages,
               SourceAfterRun source) {
    switch (EncryptFileToContainer(nullptr, job.plainPath, job.containerPath, password, source)) {
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
    if (source == SourceAfterRun::Keep)
        return kKsrDone;
    // The container is complete; a script must still hear when the plain file was not removed
    // as asked (its own message was printed) or lost its wipe.
    switch (LastDisposeOutcome()) {
    case DisposeOutcome::Removed:
        return kKsrDone;
    case DisposeOutcome::RemovedUnwiped:
        PrintMessage(messages, QStringLiteral("Can't wipe!"),
                     QStringLiteral("The wipe was abandoned, so the file was deleted without "
                                    "its data being overwritten."));
        return kKsrFailed;
    case DisposeOutcome::Kept:
    case DisposeOutcome::KeptAside:
    case DisposeOutcome::Changed:
        break;
    }
    return kKsrFailed;
}

int DecryptOne(const FileJob& job, const QString& password, const TerminalMessages& messages,
               SourceAfterRun source) {
    switch (DecryptContainerToFile(nullptr, job.containerPath, job.plainPath, password, source)) {
    case DecryptResult::Ok: {
        // A plain file the new one replaced must have gone the way plain files go.
        if (source == SourceAfterRun::Remove && LastDisposeOutcome() != DisposeOutcome::Removed) {
            if (LastDisposeOutcome() == DisposeOutcome::RemovedUnwiped)
                PrintMessage(messages, QStringLiteral("Can't wipe!"),
                             QStringLiteral("The wipe was abandoned, so the plain file that was "
                                            "replaced was deleted without its data being "
                                            "overwritten."));
            return kKsrFailed;
        }
        const ContainerRemoval removal = LastContainerRemoval();
        if (removal.removed)
            return kKsrDone;
        if (removal.reported)
            return kKsrFailed;
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

// One file whose source is standard input or whose result goes to standard
// output, through a private folder: the engine reads and writes files there,
// and the result leaves only when it is complete.
int RunThroughStreams(const FileJob& job, const QString& password,
                      const TerminalMessages& messages) {
    const KsrConsole& console = *messages.console;
    StagingFolder staging;
    QString problem;
    if (!CreateStagingFolder(&staging, &problem)) {
        PrintMessage(messages, QString(), problem);
        return kKsrFailed;
    }
    FileJob staged = job;
    const QString input =
        staging.path + (job.encrypt ? QStringLiteral("/input") : QStringLiteral("/input.ksr"));
    const QString output =
        staging.path + (job.encrypt ? QStringLiteral("/output.ksr") : QStringLiteral("/output"));
    staging.plainFiles << (job.encrypt ? input : output);
    if (job.fromInput) {
        if (!StageInput(console.dataIn, input, &problem)) {
            if (problem.isEmpty())
                return Stopped(messages);
            PrintMessage(messages, QString(), problem);
            return kKsrFailed;
        }
        (job.encrypt ? staged.plainPath : staged.containerPath) = input;
    }
    (job.encrypt ? staged.containerPath : staged.plainPath) = output;
    const int status = job.encrypt ? EncryptOne(staged, password, messages, SourceAfterRun::Keep)
                                   : DecryptOne(staged, password, messages, SourceAfterRun::Keep);
    if (status != kKsrDone)
        return status;
    if (!SendFile(output, console.dataOut, &problem)) {
        if (problem.isEmpty())
            return Stopped(messages);
        PrintMessage(messages, QString(), problem);
        return kKsrFailed;
    }
    return kKsrDone;
}

// For --verbose: what became of a file that succeeded.
QString DoneText(const FileJob& job, SourceAfterRun source, const EngineOptions& options) {
    if (job.toOutput)
        return job.encrypt ? QStringLiteral("encrypted to standard output")
                           : QStringLiteral("decrypted to standard output");
    if (!job.encrypt)
        return QStringLiteral("decrypted to %1; the container was %2")
            .arg(job.plainPath, source == SourceAfterRun::Keep ? QStringLiteral("kept")
                                                               : QStringLiteral("deleted"));
    return QStringLiteral("encrypted to %1; the plain file was %2")
        .arg(job.containerPath, source == SourceAfterRun::Keep ? QStringLiteral("kept")
                                : options.wipe                 ? QStringLiteral("wiped and deleted")
                                                               : QStringLiteral("deleted"));
}

// Saved settings that make this run differ from the defaults ksr documents,
// and that no flag overrode: a user may have changed them in the program
// long ago. Only those that matter to the run are named.
QStringList SavedSettingsInEffect(const KsrArguments& arguments, const EngineOptions& options,
                                  const StoredValues& stored, bool anyEncrypt,
                                  bool removesPlainFiles) {
    QStringList named;
    if (stored.high && !arguments.high && !options.high)
        named << QStringLiteral("low encryption (40-bit)");
    if (anyEncrypt && stored.fast && !arguments.fast && !options.fast)
        named << QStringLiteral("best compression");
    if (anyEncrypt && !arguments.toOutput && stored.hide && !arguments.hide && !options.hide)
        named << QStringLiteral("visible containers");
    if (removesPlainFiles && stored.wipe && !arguments.wipe && !options.wipe)
        named << QStringLiteral("wiping off");
    return named;
}

// What a worker needs besides its channel and password: every option as a
// flag, so that it reads no settings of its own, and its one file.
QList<QByteArray> WorkerArgs(const KsrArguments& arguments, const EngineOptions& options,
                             const FileJob& job, const QByteArray& rawName) {
    QList<QByteArray> args = {
        options.high ? "--high" : "--low",
        options.fast ? "--fast" : "--best",
        options.hide ? "--hide" : "--no-hide",
        options.wipe ? "--wipe" : "--no-wipe",
    };
    if (arguments.keep)
        args << "--keep";
    if (arguments.answer != PresetAnswer::None)
        args << (arguments.answer == PresetAnswer::Yes ? "--yes" : "--no");
    if (arguments.verbosity != Verbosity::Normal)
        args << (arguments.verbosity == Verbosity::Verbose ? "--verbose" : "--quiet");
    args << (job.encrypt ? "encrypt" : "decrypt") << "--" << rawName;
    return args;
}

} // namespace

int RunKsr(const QStringList& args, const KsrConsole& console) {
    QList<QByteArray> bytes;
    for (const QString& arg : args)
        bytes.append(QFile::encodeName(arg));
    return RunKsr(bytes, console);
}

int RunKsr(const QList<QByteArray>& rawArgs, const KsrConsole& processConsole) {
    QStringList args;
    QHash<QString, QByteArray> rawNames;
    QHash<QString, QByteArray> unfaithful;
    for (const QByteArray& raw : rawArgs) {
        args.append(QFile::decodeName(raw));
        rawNames.insert(args.last(), raw);
        if (!plat::IsFaithfulArgument(raw.constData()))
            unfaithful.insert(args.last(), raw);
    }
    KsrArguments arguments;
    QString problem;
    if (!ParseKsrArguments(args, &arguments, &problem))
        return UsageError(processConsole, problem);
    if (arguments.help) {
        processConsole.writeOut(KsrHelpText());
        return kKsrDone;
    }
    if (arguments.version) {
        processConsole.writeOut(
            QStringLiteral("ksr %1\n").arg(QLatin1String(plat::kProgramVersion)));
        return kKsrDone;
    }
    // A worker's messages and questions go to the run that started it.
    const KsrConsole console =
        arguments.workerChannel ? WorkerConsole(*arguments.workerChannel) : processConsole;

    QList<FileJob> jobs;
    bool anyEncrypt = false;
    for (const QString& named : arguments.files) {
        FileJob job;
        if (arguments.fromInput) {
            job.named = named;
            job.encrypt = arguments.command == KsrCommand::Encrypt;
        } else if (!PlanJob(arguments.command, named, &job, &problem)) {
            return UsageError(console, problem);
        }
        job.fromInput = arguments.fromInput;
        job.toOutput = arguments.toOutput;
        if (unfaithful.contains(named))
            job.unfaithful = unfaithful.value(named);
        anyEncrypt = anyEncrypt || job.encrypt;
        jobs.append(job);
    }
    if (arguments.fromInput && arguments.passwordFd == 0)
        return UsageError(console, QStringLiteral("standard input carries the data, so the "
                                                  "password cannot come from descriptor 0; give "
                                                  "--password-file, another --password-fd, or "
                                                  "type it at the terminal"));
    if (arguments.fromInput && console.dataIn < 0)
        return UsageError(console, QStringLiteral("no standard input to read"));
    if (arguments.toOutput && console.dataOut < 0)
        return UsageError(console, QStringLiteral("no standard output to write to"));
    if (arguments.toOutput && anyEncrypt && console.outputIsTerminal)
        return UsageError(console, QStringLiteral("standard output is a terminal: a container "
                                                  "is no text to show; redirect it to a file or "
                                                  "a pipe"));

    StoredValues stored;
    EngineOptions options = StoredEngineOptions(&stored);
    options.high = arguments.high.value_or(options.high);
    options.fast = arguments.fast.value_or(options.fast);
    options.hide = arguments.hide.value_or(options.hide);
    options.wipe = arguments.wipe.value_or(options.wipe);
    const SourceAfterRun source =
        arguments.keep || arguments.toOutput ? SourceAfterRun::Keep : SourceAfterRun::Remove;
    const QStringList saved = SavedSettingsInEffect(arguments, options, stored, anyEncrypt,
                                                    anyEncrypt && source == SourceAfterRun::Remove);
    if (arguments.verbosity != Verbosity::Quiet && !saved.isEmpty())
        console.writeError(QStringLiteral("ksr: using the program's saved settings: %1\n")
                               .arg(saved.join(QStringLiteral(", "))));
    if (arguments.toOutput) {
        // The only plain files are the run's own staged ones, and nothing it
        // writes is seen in a folder.
        options.wipe = true;
        options.hide = false;
    }

    QString password;
    // One password serves every file of the run.
    const int passwordStatus = arguments.passwordFile || arguments.passwordFd
                                   ? ReadScriptPassword(arguments, console, &password)
                                   : ReadTerminalPassword(anyEncrypt, console, &password);
    if (passwordStatus != kKsrDone)
        return passwordStatus;

    int status = kKsrDone;
    if (arguments.jobs > 1 && jobs.size() > 1 && !console.workerProgram.isEmpty()) {
        QList<WorkerFile> files;
        for (const FileJob& job : jobs)
            files.append(
                {Subject(job), WorkerArgs(arguments, options, job, rawNames.value(job.named))});
        // Room for the whole line up front, so that no copy of the password is left
        // behind in a buffer outgrown on the way.
        QByteArray passwordLine;
        passwordLine.reserve(3 * password.size() + 1);
        plat::LockSecret(passwordLine);
        QByteArray encoded = password.toUtf8();
        passwordLine.append(encoded);
        plat::ForgetSecret(&encoded);
        // The worker drops one final newline, so a password that ends in one keeps it.
        passwordLine.append('\n');
        status = RunInWorkers(console.workerProgram, files, arguments.jobs, passwordLine, console);
        plat::ForgetSecret(&passwordLine);
        plat::ForgetSecret(&password);
        return status;
    }

    // A progress line is drawn only where a person watches standard error.
    ProgressLine progress;
    progress.console = &console;
    const bool showProgress = console.errorIsTerminal && arguments.verbosity != Verbosity::Quiet;
    KsrConsole shown = console;
    shown.writeError = [&](const QString& text) {
        ClearProgress(&progress);
        console.writeError(text);
    };
    shown.askTerminal = [&](const QString& prompt, bool echo, QByteArray* line) {
        ClearProgress(&progress);
        return console.askTerminal(prompt, echo, line);
    };

    TerminalMessages messages;
    messages.console = &shown;
    messages.preset = arguments.answer;
    const PortsOfRun ports(&messages, options, showProgress ? &progress : nullptr);
    for (const FileJob& job : jobs) {
        if (plat::InterruptRequested())
            break;
        BeginSubject(&messages, Subject(job));
        StartProgress(&progress, Subject(job));
        const int outcome = job.unfaithful ? RefuseUnfaithfulName(job)
                            : job.toOutput ? RunThroughStreams(job, password, messages)
                            : job.encrypt  ? EncryptOne(job, password, messages, source)
                                           : DecryptOne(job, password, messages, source);
        ClearProgress(&progress);
        if (outcome == kKsrDone && arguments.verbosity == Verbosity::Verbose)
            PrintMessage(messages, QString(), DoneText(job, source, options));
        if (status == kKsrDone)
            status = outcome;
    }
    // A stop request ends the run with the signal's status, whatever came before.
    if (plat::InterruptRequested())
        status = plat::InterruptExitStatus(plat::InterruptSignal());
    plat::ForgetSecret(&password);
    return status;
}
