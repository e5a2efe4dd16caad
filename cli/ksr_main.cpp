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
#include "engine/stream_pipeline.h"
#include "engine/wipe.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"
#include "platform/path_limits.h"
#include "platform/secure_memory.h"
#include "platform/version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include <sys/stat.h>

namespace {

struct FileJob {
    bool encrypt = true;
    bool test = false; // decrypted to nowhere
    QString named;     // as given on the command line
    QByteArray raw;    // the same, as the bytes the process got
    QString plainPath;
    QString containerPath;
    // The name's bytes when they do not survive the conversion to text: the
    // text would name another file, or none.
    std::optional<QByteArray> unfaithful;
    bool fromInput = false; // the source is standard input
    bool toOutput = false;  // the result goes to standard output
    // Settled before the password was read (declined, or skipped): the
    // status, and what to say in the file's turn.
    std::optional<int> settled;
    QString settledText;
    bool overwriteAnswered = false; // asked before the password and answered Yes
};

// How the run treats every file.
struct RunSettings {
    SourceAfterRun source = SourceAfterRun::Remove;
    EngineOptions options;
    Verbosity verbosity = Verbosity::Normal;
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
    job->test = command == KsrCommand::Test;
    // A test reads the container whatever its name, and names no plain file.
    if (job->test) {
        job->containerPath = named;
        return true;
    }
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
int ReadScriptPassword(const KsrArguments& arguments, const KsrConsole& console, QString* password,
                       FileIdentity* readFrom) {
    plat::SecretBytes bytes;
    QString problem;
    bool readableByOthers = false;
    const bool read = arguments.passwordFile
                          ? ReadPasswordFile(*arguments.passwordFile, &bytes.get(), &problem,
                                             &readableByOthers, readFrom)
                          : ReadPasswordDescriptor(*arguments.passwordFd, &bytes.get(), &problem);
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
    DropFinalNewline(&bytes.get());
    return DecodePassword(bytes.get(), password, &problem) ? kKsrDone
                                                           : UsageError(console, problem);
}

// The password typed at the terminal; a new one is typed twice.
int ReadTerminalPassword(bool confirm, const KsrConsole& console, QString* password) {
    plat::SecretBytes bytes;
    switch (console.askTerminal(QStringLiteral("Password: "), false, &bytes.get())) {
    case TerminalRead::Line:
        break;
    case TerminalRead::EndOfInput:
        return UsageError(console, QStringLiteral("no password given"));
    case TerminalRead::NoTerminal:
        return UsageError(console, QStringLiteral("no terminal to read the password from; give "
                                                  "--password-file or --password-fd"));
    }
    if (confirm) {
        plat::SecretBytes again;
        const TerminalRead read =
            console.askTerminal(QStringLiteral("Confirm password: "), false, &again.get());
        if (read != TerminalRead::Line || again.get() != bytes.get()) {
            if (read != TerminalRead::Line)
                return UsageError(console, QStringLiteral("no confirmation given"));
            console.writeError(
                QStringLiteral("ksr: Password and confirmation strings do not match.\n"));
            return kKsrUsage;
        }
    }
    QString problem;
    return DecodePassword(bytes.get(), password, &problem) ? kKsrDone
                                                           : UsageError(console, problem);
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

// Reports a run that failed in the engine or was stopped, as a terminal
// shows it; the status for the script.
int DecryptFailure(DecryptResult result, const TerminalMessages& messages) {
    switch (result) {
    case DecryptResult::Ok:
        return kKsrDone;
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

int DecryptOne(const FileJob& job, const QString& password, const TerminalMessages& messages,
               SourceAfterRun source) {
    const DecryptResult result =
        DecryptContainerToFile(nullptr, job.containerPath, job.plainPath, password, source);
    if (result != DecryptResult::Ok)
        return DecryptFailure(result, messages);
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
    // The run has said why itself.
    if (removal.reported)
        return kKsrFailed;
    PrintMessage(messages, QStringLiteral("Delete Error"),
                 QStringLiteral("the file was decrypted, but the container could not be "
                                "deleted: ") +
                     ErrorMessage(kFileNotDeleted, removal.lastError));
    return kKsrFailed;
}

// A reader of standard output that went away ends the run without a word:
// what it would say has nobody to read it.
int ReaderGone() {
    plat::SetLastError(plat::kErrorSuccess);
    RecordError(kNoError);
    return kKsrReaderGone;
}

// One file whose source is standard input or whose result goes to standard
// output, streamed through the engine: nothing of it gets a name on the disk.
int RunThroughStreams(const FileJob& job, const QString& password,
                      const TerminalMessages& messages) {
    const KsrConsole& console = *messages.console;
    if (job.encrypt) {
        // A container is no plain data: nothing of it is held back.
        HeldOutput container(console.dataOut, 0);
        const EncryptResult result =
            job.fromInput
                ? EncryptStream(DescriptorInput(console.dataIn), container.Port(), password)
                : EncryptFileToStream(job.plainPath, container.Port(), password);
        const bool written = result == EncryptResult::Ok && container.Finish();
        if (container.ReaderGone())
            return ReaderGone();
        switch (result) {
        case EncryptResult::Ok:
            if (written)
                return kKsrDone;
            PrintMessage(messages, QString(),
                         QStringLiteral("cannot write standard output: ") +
                             plat::SystemErrorText(plat::GetLastError()));
            return kKsrFailed;
        case EncryptResult::Cancelled:
            return Stopped(messages);
        case EncryptResult::Declined:
            return kKsrDeclined;
        case EncryptResult::Failed:
            break;
        }
        ReportError(nullptr, QStringLiteral("Encryption Error"));
        return kKsrFailed;
    }
    HeldOutput held(console.dataOut, kHoldBackBudget);
    const DecryptResult result =
        job.fromInput ? DecryptStream(DescriptorInput(console.dataIn), held.Port(), password)
                      : DecryptFileToStream(job.containerPath, held.Port(), password);
    if (result == DecryptResult::Ok && !held.Finish() && !held.ReaderGone()) {
        PrintMessage(messages, QString(),
                     QStringLiteral("cannot write standard output: ") +
                         plat::SystemErrorText(plat::GetLastError()));
        return kKsrFailed;
    }
    if (held.ReaderGone())
        return ReaderGone();
    const int status = DecryptFailure(result, messages);
    if (status != kKsrDone && held.Released())
        PrintMessage(messages, QString(),
                     QStringLiteral("the data written to standard output before this is "
                                    "incomplete"));
    return status;
}

// `ksr test`: the container opens with the password and decompresses to its end.
int TestOne(const FileJob& job, const QString& password, const TerminalMessages& messages) {
    const DecryptResult result =
        job.fromInput ? DecryptStream(DescriptorInput(messages.console->dataIn), {}, password)
                      : DecryptFileToStream(job.containerPath, {}, password);
    return DecryptFailure(result, messages);
}

// For --verbose: what became of a file that succeeded.
QString DoneText(const FileJob& job, SourceAfterRun source, const EngineOptions& options) {
    if (job.test)
        return QStringLiteral("OK: it opens with the password and decompresses to its end");
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

// What every worker needs besides its channel and password: every option as
// a flag, so that it reads no settings of its own.
QList<QByteArray> WorkerArgs(const KsrArguments& arguments, const EngineOptions& options) {
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
    return args;
}

// A file for a worker: what to do ('e', 'd' or 't'), whether the overwrite
// question was answered Yes ('y' or '-'), then the name's bytes.
QByteArray WorkerJob(const FileJob& job) {
    const char what = job.test ? 't' : job.encrypt ? 'e' : 'd';
    return QByteArray(1, what) + (job.overwriteAnswered ? 'y' : '-') + job.raw;
}

bool ReadWorkerJob(const QByteArray& bytes, FileJob* job, QString* problem) {
    if (bytes.size() < 3) {
        *problem = QStringLiteral("a worker was handed no file");
        return false;
    }
    const KsrCommand command = bytes[0] == 't'   ? KsrCommand::Test
                               : bytes[0] == 'e' ? KsrCommand::Encrypt
                                                 : KsrCommand::Decrypt;
    job->raw = bytes.mid(2);
    if (!PlanJob(command, QFile::decodeName(job->raw), job, problem))
        return false;
    job->overwriteAnswered = bytes[1] == 'y';
    if (!plat::IsFaithfulArgument(job->raw.constData()))
        job->unfaithful = job->raw;
    return true;
}

std::optional<FileIdentity> IdentityOf(int result, const struct stat& status) {
    if (result != 0)
        return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

// What a name itself is, a final link not followed, as the engine takes it.
std::optional<FileIdentity> NamedFile(const QString& path) {
    struct stat status;
    return IdentityOf(lstat(QFile::encodeName(path).constData(), &status), status);
}

std::optional<FileIdentity> OpenFile(int fd) {
    struct stat status;
    return IdentityOf(fstat(fd, &status), status);
}

// The file a script's password is read from, as far as it can be told before it is read.
std::optional<FileIdentity> PasswordSource(const KsrArguments& arguments) {
    if (arguments.passwordFd)
        return OpenFile(*arguments.passwordFd);
    if (!arguments.passwordFile)
        return std::nullopt;
    struct stat status;
    return IdentityOf(stat(QFile::encodeName(*arguments.passwordFile).constData(), &status),
                      status);
}

QString PasswordOption(const KsrArguments& arguments) {
    return arguments.passwordFile ? QStringLiteral("--password-file")
                                  : QStringLiteral("--password-fd %1").arg(*arguments.passwordFd);
}

// A run never encrypts, decrypts, removes or replaces the file its password
// came from: with it gone, the password would exist only inside a container
// that it opens.
void SkipPasswordFile(const FileIdentity& password, const QString& option, QList<FileJob>* jobs) {
    for (FileJob& job : *jobs) {
        if (job.settled || job.fromInput || job.unfaithful)
            continue;
        const QString source = job.encrypt ? job.plainPath : job.containerPath;
        const QString target = job.test || job.toOutput ? QString()
                               : job.encrypt            ? job.containerPath
                                                        : job.plainPath;
        if (NamedFile(source) == password) {
            job.settled = kKsrFailed;
            job.settledText = QStringLiteral("skipped: it holds the password of this run (%1), so "
                                             "it was left as it is")
                                  .arg(option);
        } else if (!target.isEmpty() && NamedFile(target) == password) {
            job.settled = kKsrFailed;
            job.settledText = QStringLiteral("skipped: its result would replace %1, which holds "
                                             "the password of this run (%2), so both were left "
                                             "as they are")
                                  .arg(target, option);
        }
    }
}

// Asks, file by file in the order given and before the password, whether an
// existing target may be overwritten, with the engine's own question. A No
// settles the file as declined; a Yes is not asked again.
void AskBeforeOverwriting(QList<FileJob>* jobs, TerminalMessages* messages) {
    for (FileJob& job : *jobs) {
        if (job.settled || job.unfaithful || job.test || job.toOutput)
            continue;
        const QString source = job.encrypt ? job.plainPath : job.containerPath;
        const QString target = job.encrypt ? job.containerPath : job.plainPath;
        // Whatever the engine refuses without a question is left to it.
        struct stat status;
        if (lstat(QFile::encodeName(source).constData(), &status) != 0 ||
            !S_ISREG(status.st_mode) || (job.encrypt && status.st_nlink > 1) ||
            plat::GetFileKind(target) != plat::FileKind::Regular)
            continue;
        const uint32_t attributes = plat::GetFileAttributes(target);
        if (attributes == plat::kInvalidAttributes ||
            (attributes & plat::kProtectiveAttributes) != 0)
            continue;
        BeginSubject(messages, Subject(job));
        const int answer = ShowTerminalMessage(
            messages,
            job.encrypt
                ? QStringLiteral("Keshlor file already exists. Do you want to overwrite it?")
                : QStringLiteral("Plain file already exists. Do you want to overwrite it?"),
            kOverwriteCaption, plat::kMbYesNo | plat::kMbIconQuestion | plat::kMbDefButton2);
        if (answer == plat::kIdYes)
            job.overwriteAnswered = true;
        else
            job.settled = kKsrDeclined;
    }
}

// The files each job reads or writes, by folder (device and inode) and name.
QStringList TouchedFiles(const FileJob& job) {
    QStringList keys;
    for (const QString& path : {job.plainPath, job.containerPath}) {
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        struct stat status;
        const QByteArray folder = QFile::encodeName(info.path());
        keys << plat::JoinPath(stat(folder.constData(), &status) == 0
                                   ? QStringLiteral("%1:%2").arg(status.st_dev).arg(status.st_ino)
                                   : QDir::cleanPath(info.absolutePath()),
                               info.fileName());
    }
    return keys;
}

// Jobs that touch a file in common (a and a.ksr, a and ./a) share a group,
// so that they run one after another as a single run would do them.
std::vector<int> SharedFileGroups(const QList<FileJob>& jobs) {
    std::vector<int> parent(jobs.size());
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = static_cast<int>(i);
    const auto root = [&](int i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    QHash<QString, int> firstToTouch;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        if (jobs[i].unfaithful)
            continue;
        for (const QString& key : TouchedFiles(jobs[i])) {
            const auto found = firstToTouch.constFind(key);
            if (found == firstToTouch.constEnd())
                firstToTouch.insert(key, static_cast<int>(i));
            else
                parent[root(static_cast<int>(i))] = root(*found);
        }
    }
    std::vector<int> groups(jobs.size());
    for (size_t i = 0; i < groups.size(); ++i)
        groups[i] = root(static_cast<int>(i));
    return groups;
}

// One file of the run, its subject begun: runs it unless it was settled, and
// returns its status.
int RunFile(const FileJob& job, const QString& password, TerminalMessages* messages,
            const RunSettings& run) {
    if (job.settled) {
        if (!job.settledText.isEmpty())
            PrintMessage(*messages, QString(), job.settledText);
        return *job.settled;
    }
    messages->overwriteAnswered = job.overwriteAnswered;
    const int outcome = job.unfaithful ? RefuseUnfaithfulName(job)
                        : job.test     ? TestOne(job, password, *messages)
                        : job.toOutput ? RunThroughStreams(job, password, *messages)
                        : job.encrypt  ? EncryptOne(job, password, *messages, run.source)
                                       : DecryptOne(job, password, *messages, run.source);
    if (outcome == kKsrDone && run.verbosity == Verbosity::Verbose)
        PrintMessage(*messages, QString(), DoneText(job, run.source, run.options));
    return outcome;
}

// The whole text a message makes on standard error, for a file whose turn is still to come.
QString MessageText(const KsrConsole& console, const QString& subject, const QString& text) {
    QString held;
    KsrConsole holder = console;
    holder.writeError = [&held](const QString& line) { held += line; };
    TerminalMessages messages;
    messages.console = &holder;
    BeginSubject(&messages, subject);
    PrintMessage(messages, QString(), text);
    return held;
}

int RunWithWorkers(const QList<FileJob>& jobs, const QString& password,
                   const KsrArguments& arguments, const EngineOptions& options,
                   const KsrConsole& console) {
    const std::vector<int> groups = SharedFileGroups(jobs);
    QList<WorkerFile> files;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const FileJob& job = jobs[i];
        WorkerFile file{Subject(job), WorkerJob(job), groups[i], job.settled, QString()};
        if (job.settled && !job.settledText.isEmpty())
            file.settledText = MessageText(console, file.subject, job.settledText);
        files.append(file);
    }
    const plat::SecretBytes encoded(password.toUtf8());
    return RunInWorkers(console.workerProgram, WorkerArgs(arguments, options), files,
                        arguments.jobs, encoded.get(), console);
}

// A worker: the password from the run, then files from the run until it has no more.
int RunAsWorker(const KsrArguments& arguments, const KsrConsole& console) {
    QString problem;
    plat::SecretText password;
    {
        plat::SecretBytes bytes;
        if (!arguments.passwordFd ||
            !ReadWorkerPassword(*arguments.passwordFd, &bytes.get(), &problem) ||
            !DecodePassword(bytes.get(), &password.get(), &problem))
            return UsageError(console, problem);
    }
    // Every option comes as a flag: a worker reads no settings.
    RunSettings run;
    run.options.high = arguments.high.value_or(run.options.high);
    run.options.fast = arguments.fast.value_or(run.options.fast);
    run.options.hide = arguments.hide.value_or(run.options.hide);
    run.options.wipe = arguments.wipe.value_or(run.options.wipe);
    run.source = arguments.keep ? SourceAfterRun::Keep : SourceAfterRun::Remove;
    run.verbosity = arguments.verbosity;
    TerminalMessages messages;
    messages.console = &console;
    messages.preset = arguments.answer;
    const PortsOfRun ports(&messages, run.options, nullptr);
    return ServeWorkerFiles(*arguments.workerChannel, [&](const QByteArray& given) {
        // Each file starts as it would in a process of its own, but for the
        // folders searched for leftovers: searching a folder again for each
        // of its files would cost as much as listing it each time.
        ForgetOnceOnlyWarnings();
        plat::SetLastError(plat::kErrorSuccess);
        RecordError(kNoError);
        FileJob job;
        QString problem;
        if (!ReadWorkerJob(given, &job, &problem)) {
            BeginSubject(&messages, QString());
            PrintMessage(messages, QString(), problem);
            return static_cast<int>(kKsrFailed);
        }
        BeginSubject(&messages, Subject(job));
        return RunFile(job, password.get(), &messages, run);
    });
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
    if (arguments.workerChannel)
        return RunAsWorker(arguments, WorkerConsole(*arguments.workerChannel));
    const KsrConsole& console = processConsole;
    RemoveStaleStagingFolders();

    QList<FileJob> jobs;
    bool anyEncrypt = false;
    for (const QString& named : arguments.files) {
        FileJob job;
        if (arguments.fromInput) {
            job.named = named;
            job.encrypt = arguments.command == KsrCommand::Encrypt;
            job.test = arguments.command == KsrCommand::Test;
        } else if (!PlanJob(arguments.command, named, &job, &problem)) {
            return UsageError(console, problem);
        }
        job.raw = rawNames.value(named);
        job.fromInput = arguments.fromInput;
        job.toOutput = arguments.toOutput;
        if (unfaithful.contains(named))
            job.unfaithful = unfaithful.value(named);
        anyEncrypt = anyEncrypt || job.encrypt;
        jobs.append(job);
    }
    if (arguments.fromInput && console.dataIn < 0)
        return UsageError(console, QStringLiteral("no standard input to read"));
    // Identities, not names: /dev/stdin, or any other name of the same pipe or file.
    const std::optional<FileIdentity> passwordSource = PasswordSource(arguments);
    if (arguments.fromInput && passwordSource && passwordSource == OpenFile(console.dataIn))
        return UsageError(
            console,
            QStringLiteral("standard input carries the data, so the password cannot "
                           "come from it (%1 is standard input); give another "
                           "--password-file or --password-fd, or type it at the "
                           "terminal")
                .arg(arguments.passwordFile ? *arguments.passwordFile : PasswordOption(arguments)));
    if (arguments.toOutput && console.dataOut < 0)
        return UsageError(console, QStringLiteral("no standard output to write to"));
    if (arguments.toOutput && anyEncrypt && console.outputIsTerminal)
        return UsageError(console, QStringLiteral("standard output is a terminal: a container "
                                                  "is no text to show; redirect it to a file or "
                                                  "a pipe"));

    StoredValues stored;
    RunSettings run;
    run.options = StoredEngineOptions(&stored);
    EngineOptions& options = run.options;
    options.high = arguments.high.value_or(options.high);
    options.fast = arguments.fast.value_or(options.fast);
    options.hide = arguments.hide.value_or(options.hide);
    options.wipe = arguments.wipe.value_or(options.wipe);
    run.source = arguments.keep || arguments.toOutput || arguments.command == KsrCommand::Test
                     ? SourceAfterRun::Keep
                     : SourceAfterRun::Remove;
    run.verbosity = arguments.verbosity;
    const QStringList saved = SavedSettingsInEffect(
        arguments, options, stored, anyEncrypt, anyEncrypt && run.source == SourceAfterRun::Remove);
    if (arguments.verbosity != Verbosity::Quiet && !saved.isEmpty())
        console.writeError(QStringLiteral("ksr: using the program's saved settings: %1\n")
                               .arg(saved.join(QStringLiteral(", "))));
    // Nothing a filter writes is seen in a folder.
    if (arguments.toOutput)
        options.hide = false;

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

    const QString passwordOption =
        arguments.passwordFile || arguments.passwordFd ? PasswordOption(arguments) : QString();
    if (passwordSource)
        SkipPasswordFile(*passwordSource, passwordOption, &jobs);
    if (arguments.answer != PresetAnswer::Yes)
        AskBeforeOverwriting(&jobs, &messages);
    const bool anyToRun =
        std::any_of(jobs.begin(), jobs.end(), [](const FileJob& job) { return !job.settled; });

    plat::SecretText password;
    if (anyToRun) {
        // One password serves every file of the run.
        FileIdentity read;
        const int passwordStatus =
            arguments.passwordFile || arguments.passwordFd
                ? ReadScriptPassword(arguments, console, &password.get(), &read)
                : ReadTerminalPassword(anyEncrypt, console, &password.get());
        if (passwordStatus != kKsrDone)
            return passwordStatus;
        // The file that was opened, should another have taken the name meanwhile.
        if (arguments.passwordFile && !(read == FileIdentity{}) && read != passwordSource)
            SkipPasswordFile(read, passwordOption, &jobs);
    }

    const qsizetype toRun =
        std::count_if(jobs.begin(), jobs.end(), [](const FileJob& job) { return !job.settled; });
    if (arguments.jobs > 1 && toRun > 1 && !console.workerProgram.isEmpty())
        return RunWithWorkers(jobs, password.get(), arguments, options, console);

    int status = kKsrDone;
    const PortsOfRun ports(&messages, options, showProgress ? &progress : nullptr);
    for (const FileJob& job : jobs) {
        if (plat::InterruptRequested())
            break;
        BeginSubject(&messages, Subject(job));
        StartProgress(&progress, Subject(job));
        const int outcome = RunFile(job, password.get(), &messages, run);
        ClearProgress(&progress);
        if (status == kKsrDone)
            status = outcome;
    }
    // A stop request ends the run with the signal's status, whatever came before.
    if (plat::InterruptRequested())
        status = plat::InterruptExitStatus(plat::InterruptSignal());
    return status;
}
