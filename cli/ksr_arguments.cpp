#include "cli/ksr_arguments.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

struct Switch {
    const char* name;
    std::optional<bool> KsrArguments::*option;
    bool value;
};

constexpr Switch kOptionSwitches[] = {
    {"high", &KsrArguments::high, true}, {"low", &KsrArguments::high, false},
    {"fast", &KsrArguments::fast, true}, {"best", &KsrArguments::fast, false},
    {"hide", &KsrArguments::hide, true}, {"no-hide", &KsrArguments::hide, false},
    {"wipe", &KsrArguments::wipe, true}, {"no-wipe", &KsrArguments::wipe, false},
};

const QString kPasswordFile = QStringLiteral("password-file");
const QString kPasswordFd = QStringLiteral("password-fd");
const QString kJobs = QStringLiteral("jobs");
const QString kWorkerChannel = QStringLiteral("worker-channel");

bool TakesValue(const QString& name) {
    return name == kPasswordFile || name == kPasswordFd || name == kJobs ||
           name == QLatin1String("j") || name == kWorkerChannel;
}

// Where "--" ends the options as the parser reads the line: the first one
// that is not an option's value (it takes the next argument unless the value
// is attached); -1 when there is none.
qsizetype OptionsEnd(const QStringList& args) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--"))
            return i;
        if (arg.startsWith(QLatin1String("--"))) {
            if (!arg.contains(QLatin1Char('=')) && TakesValue(arg.mid(2)))
                ++i;
        } else if (arg.startsWith(QLatin1Char('-'))) {
            // Grouped short options: one that takes a value ends the group.
            for (qsizetype at = 1; at < arg.size(); ++at) {
                if (TakesValue(arg.mid(at, 1))) {
                    if (at == arg.size() - 1)
                        ++i;
                    break;
                }
            }
        }
    }
    return -1;
}

bool ParseCount(const QString& value, int minimum, int* number) {
    bool ok = false;
    *number = value.toInt(&ok, 10);
    return ok && *number >= minimum;
}

void AddOption(QCommandLineParser* parser, const QStringList& names,
               const QString& valueName = QString(), bool hidden = false) {
    QCommandLineOption option(names);
    option.setValueName(valueName);
    if (hidden)
        option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser->addOption(option);
}

} // namespace

bool ParseKsrArguments(const QStringList& args, KsrArguments* parsed, QString* problem) {
    *parsed = KsrArguments{};
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const Switch& option : kOptionSwitches)
        AddOption(&parser, {QLatin1String(option.name)});
    AddOption(&parser, {QStringLiteral("k"), QStringLiteral("keep")});
    AddOption(&parser, {QStringLiteral("stdout")});
    AddOption(&parser, {QStringLiteral("yes")});
    AddOption(&parser, {QStringLiteral("no")});
    AddOption(&parser, {QStringLiteral("v"), QStringLiteral("verbose")});
    AddOption(&parser, {QStringLiteral("q"), QStringLiteral("quiet")});
    AddOption(&parser, {QStringLiteral("h"), QStringLiteral("help")});
    AddOption(&parser, {QStringLiteral("V"), QStringLiteral("version")});
    AddOption(&parser, {kPasswordFile}, QStringLiteral("FILE"));
    AddOption(&parser, {kPasswordFd}, QStringLiteral("N"));
    AddOption(&parser, {QStringLiteral("j"), kJobs}, QStringLiteral("N"));
    AddOption(&parser, {kWorkerChannel}, QStringLiteral("N"), true);
    // The parser takes the first argument for the program's name.
    if (!parser.parse(QStringList{QStringLiteral("ksr")} + args)) {
        *problem = parser.errorText();
        return false;
    }

    // In the order given, so that the last of two contrary flags wins.
    bool verbose = false;
    bool quiet = false;
    int passwordSources = 0;
    for (const QString& name : parser.optionNames()) {
        if (name == QLatin1String("h") || name == QLatin1String("help"))
            parsed->help = true;
        else if (name == QLatin1String("V") || name == QLatin1String("version"))
            parsed->version = true;
        else if (name == QLatin1String("k") || name == QLatin1String("keep"))
            parsed->keep = true;
        else if (name == QLatin1String("stdout"))
            parsed->toOutput = true;
        else if (name == QLatin1String("v") || name == QLatin1String("verbose"))
            verbose = true;
        else if (name == QLatin1String("q") || name == QLatin1String("quiet"))
            quiet = true;
        else if (name == QLatin1String("yes"))
            parsed->answer = PresetAnswer::Yes;
        else if (name == QLatin1String("no"))
            parsed->answer = PresetAnswer::No;
        else if (name == kPasswordFile || name == kPasswordFd)
            ++passwordSources;
        for (const Switch& option : kOptionSwitches) {
            if (name == QLatin1String(option.name))
                parsed->*(option.option) = option.value;
        }
    }
    if (parsed->help || parsed->version)
        return true;
    if (verbose && quiet) {
        *problem = QStringLiteral("--verbose and --quiet cannot both be given");
        return false;
    }
    parsed->verbosity = verbose ? Verbosity::Verbose : quiet ? Verbosity::Quiet : Verbosity::Normal;

    if (passwordSources > 1) {
        *problem =
            QStringLiteral("only one of --password-file and --password-fd may be given, once");
        return false;
    }
    if (parser.isSet(kPasswordFile)) {
        parsed->passwordFile = parser.value(kPasswordFile);
        if (parsed->passwordFile->isEmpty()) {
            *problem = QStringLiteral("--password-file needs a file name");
            return false;
        }
    }
    int number = 0;
    if (parser.isSet(kPasswordFd)) {
        if (!ParseCount(parser.value(kPasswordFd), 0, &number)) {
            *problem = QStringLiteral("--password-fd needs a file descriptor number, not '%1'")
                           .arg(parser.value(kPasswordFd));
            return false;
        }
        parsed->passwordFd = number;
    }
    if (parser.isSet(kJobs)) {
        if (!ParseCount(parser.value(kJobs), 1, &number)) {
            *problem = QStringLiteral("--jobs needs a number of files at once, 1 or more, not '%1'")
                           .arg(parser.value(kJobs));
            return false;
        }
        parsed->jobs = number;
    }
    if (parser.isSet(kWorkerChannel)) {
        if (!ParseCount(parser.value(kWorkerChannel), 0, &number)) {
            *problem = QStringLiteral("--worker-channel needs a file descriptor number");
            return false;
        }
        parsed->workerChannel = number;
    }

    // After "--" every argument is a file, even "encrypt" or "-".
    const QStringList positional = parser.positionalArguments();
    const qsizetype end = OptionsEnd(args);
    const qsizetype beforeEnd = positional.size() - (end < 0 ? 0 : args.size() - end - 1);
    qsizetype first = 0;
    if (beforeEnd > 0 && positional[0] == QLatin1String("encrypt")) {
        parsed->command = KsrCommand::Encrypt;
        first = 1;
    } else if (beforeEnd > 0 && positional[0] == QLatin1String("decrypt")) {
        parsed->command = KsrCommand::Decrypt;
        first = 1;
    }
    parsed->files = positional.mid(first);
    if (parsed->files.isEmpty()) {
        *problem = QStringLiteral("no file given");
        return false;
    }
    // Without a command, "-" is a file of that name, as it always was.
    if (parsed->command != KsrCommand::ByName &&
        positional.mid(first, beforeEnd - first).contains(QStringLiteral("-"))) {
        if (parsed->files.size() != 1) {
            *problem = QStringLiteral("- (standard input) must be the only FILE; a file named - "
                                      "is given as ./-");
            return false;
        }
        parsed->fromInput = true;
        parsed->toOutput = true;
    }
    if (parsed->toOutput && parsed->files.size() != 1) {
        *problem = QStringLiteral("--stdout takes exactly one FILE");
        return false;
    }
    return true;
}

QString KsrHelpText() {
    return QStringLiteral(
        R"(Usage: ksr [OPTION]... FILE...
       ksr encrypt [OPTION]... FILE...
       ksr decrypt [OPTION]... FILE.ksr...
       ksr encrypt|decrypt [OPTION]... -

Encrypts each FILE into FILE.ksr under a password and removes FILE, or
decrypts each FILE.ksr back into FILE and removes the container. Without
"encrypt" or "decrypt", a FILE whose name ends in ".ksr" (any letter case) is
decrypted and any other FILE is encrypted. All files share one password, read
from the terminal without echo (twice when a file is to be encrypted) unless
one of the password options gives it. A password has at most 1024 characters
(UTF-16 code units), as in the program.

Options not given take the values Keshlor saved in its settings, or else the
defaults marked *; ksr never changes the settings, and says once on standard
error when a saved value other than the default is in effect.
  --high          high encryption (128-bit key)*, where the system offers it
  --low           low encryption (40-bit key)
  --fast          fast compression*
  --best          best compression
  --hide          give new containers the hidden attribute*
  --no-hide       leave new containers visible
  --wipe          overwrite plain files with random bytes before deleting them*
  --no-wipe       delete plain files without overwriting them
  -k, --keep      keep each source (plain file or container) beside the result
  --stdout        write the result to standard output instead of a file, and
                  keep the source; takes one FILE
  --password-file FILE
                  read the password from FILE: its whole content as UTF-8,
                  less one final newline ("\n" or "\r\n"); empty is a password
  --password-fd N read the password in the same way from file descriptor N
  --yes           answer yes to every question: overwrite an existing target,
                  retry a wipe that failed (at most 3 times, then cancel)
  --no            answer no to every question: keep an existing target, delete
                  a plain file unwiped when wiping it fails
  -j, --jobs N    work on up to N files at once, each in a process of its own
                  (default 1); messages still come whole, in the files' order,
                  and questions one at a time
  -v, --verbose   also say what became of each file
  -q, --quiet     no notes and no progress line; failures are still shown
  -h, --help      show this help and exit
  -V, --version   show the version and exit
  --              end of options; every argument after it is a FILE

Without --yes or --no, questions are asked on the terminal; with no terminal
the safe answer (no, cancel) is taken. Every message goes to standard error
with the file it concerns and the message's caption. On a terminal, a file of
more than 4 MiB shows its progress on standard error.

As a filter, "ksr encrypt -" encrypts standard input to standard output and
"ksr decrypt -" decrypts it back (a file named - is given as ./-):
  tar c folder | ksr encrypt --password-file pw - > folder.tar.ksr
The password then comes from --password-file, --password-fd (not 0) or the
terminal. No container is written to a terminal, and a decryption writes
nothing until the whole container has been checked, so a wrong password or a
damaged container gives no output at all. The data passes through private
temporary files under $TMPDIR, removed at the end (plain data wiped first).

A container does not record its strength: decrypt it with the --high or --low
setting it was encrypted with.

Only regular files are taken: a symbolic link, folder, device, FIFO or socket
is refused, and so is a file that other hard links also name. A new file is
written under a temporary name and replaces an existing one only when complete.

A file that fails does not stop the others.
Exit status, of the first file (in the order given) that did not succeed:
  0  every file done
  1  a file failed (its message says why), or it was done but its source could
     not be removed or its wipe was abandoned
  2  bad arguments, passwords that do not match, or a password that cannot be
     read or is too long; no file was touched
  3  wrong password, other encryption strength, or a damaged container
  4  declined: the target existed and was not overwritten
A stop by SIGINT, SIGTERM or SIGHUP leaves the file being worked on as it was,
removes what the run had written, and exits with 128 + the signal's number
(130 for Ctrl+C).
)");
}
