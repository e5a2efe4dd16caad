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

// An unknown option as it was typed: "--bogus", or "-x" with the group it came in.
QString TypedUnknownOption(const QStringList& args, const QString& name) {
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            break;
        if (arg.startsWith(QLatin1String("--"))) {
            if (arg.mid(2).section(QLatin1Char('='), 0, 0) == name)
                return QStringLiteral("'--%1'").arg(name);
        } else if (arg.startsWith(QLatin1Char('-')) && name.size() == 1 &&
                   arg.indexOf(name, 1) > 0) {
            return arg.size() == 2 ? QStringLiteral("'%1'").arg(arg)
                                   : QStringLiteral("'-%1' (in '%2')").arg(name, arg);
        }
    }
    return QStringLiteral("'%1'").arg(name);
}

// The command a word names, if it names one.
std::optional<KsrCommand> CommandWord(const QString& word) {
    if (word == QLatin1String("encrypt"))
        return KsrCommand::Encrypt;
    if (word == QLatin1String("decrypt"))
        return KsrCommand::Decrypt;
    if (word == QLatin1String("test"))
        return KsrCommand::Test;
    return std::nullopt;
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
    AddOption(&parser, {QStringLiteral("c"), QStringLiteral("stdout")});
    AddOption(&parser, {QStringLiteral("f"), QStringLiteral("yes")});
    AddOption(&parser, {QStringLiteral("d")});
    AddOption(&parser, {QStringLiteral("t")});
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
        const QStringList unknown = parser.unknownOptionNames();
        *problem =
            unknown.isEmpty()
                ? parser.errorText()
                : QStringLiteral("unknown option %1").arg(TypedUnknownOption(args, unknown[0]));
        return false;
    }

    // In the order given, so that the last of two contrary flags wins.
    bool verbose = false;
    bool quiet = false;
    int passwordSources = 0;
    std::optional<KsrCommand> flagCommand;
    bool commandsDiffer = false;
    for (const QString& name : parser.optionNames()) {
        if (name == QLatin1String("h") || name == QLatin1String("help"))
            parsed->help = true;
        else if (name == QLatin1String("V") || name == QLatin1String("version"))
            parsed->version = true;
        else if (name == QLatin1String("k") || name == QLatin1String("keep"))
            parsed->keep = true;
        else if (name == QLatin1String("c") || name == QLatin1String("stdout"))
            parsed->toOutput = true;
        else if (name == QLatin1String("v") || name == QLatin1String("verbose"))
            verbose = true;
        else if (name == QLatin1String("q") || name == QLatin1String("quiet"))
            quiet = true;
        else if (name == QLatin1String("f") || name == QLatin1String("yes"))
            parsed->answer = PresetAnswer::Yes;
        else if (name == QLatin1String("no"))
            parsed->answer = PresetAnswer::No;
        else if (name == kPasswordFile || name == kPasswordFd)
            ++passwordSources;
        if (name == QLatin1String("d") || name == QLatin1String("t")) {
            const KsrCommand command =
                name == QLatin1String("d") ? KsrCommand::Decrypt : KsrCommand::Test;
            commandsDiffer = commandsDiffer || (flagCommand && *flagCommand != command);
            flagCommand = command;
        }
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

    if (commandsDiffer) {
        *problem = QStringLiteral("-d and -t cannot both be given");
        return false;
    }

    // After "--" every argument is a file, even "encrypt", "test" or "-".
    const QStringList positional = parser.positionalArguments();
    const qsizetype end = OptionsEnd(args);
    const qsizetype beforeEnd = positional.size() - (end < 0 ? 0 : args.size() - end - 1);
    qsizetype first = 0;
    if (beforeEnd > 0) {
        if (const std::optional<KsrCommand> word = CommandWord(positional[0])) {
            if (flagCommand && *flagCommand != *word) {
                *problem = QStringLiteral("'%1' and -%2 cannot both be given")
                               .arg(positional[0], *flagCommand == KsrCommand::Decrypt
                                                       ? QStringLiteral("d")
                                                       : QStringLiteral("t"));
                return false;
            }
            parsed->command = *word;
            first = 1;
        }
    }
    if (first == 0 && flagCommand)
        parsed->command = *flagCommand;
    if (parsed->command == KsrCommand::Test && parsed->toOutput) {
        *problem = QStringLiteral("test writes nothing, so --stdout cannot be given with it");
        return false;
    }
    parsed->files = positional.mid(first);
    // A worker takes its files over its channel.
    if (parsed->files.isEmpty() && !parsed->workerChannel) {
        *problem = QStringLiteral("no file given");
        return false;
    }
    if (positional.mid(first, beforeEnd - first).contains(QStringLiteral("-"))) {
        if (parsed->files.size() != 1) {
            *problem = QStringLiteral("- (standard input) must be the only FILE; a file named - "
                                      "is given as ./-");
            return false;
        }
        // Without a command, as gzip does, standard input is encrypted.
        if (parsed->command == KsrCommand::ByName)
            parsed->command = KsrCommand::Encrypt;
        parsed->fromInput = true;
        parsed->toOutput = parsed->command != KsrCommand::Test;
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
       ksr decrypt|-d [OPTION]... FILE.ksr...
       ksr test|-t [OPTION]... FILE.ksr...
       ksr [encrypt|decrypt|-d|test|-t] [OPTION]... -

Encrypts each FILE into FILE.ksr under a password and removes FILE, or
decrypts each FILE.ksr back into FILE and removes the container. Without a
command, a FILE whose name ends in ".ksr" (any letter case) is decrypted and
any other FILE is encrypted. "test" checks that each container opens with the
password and decompresses to its end, and writes nothing. A first argument
"encrypt", "decrypt" or "test" is the command: a file of that name is given as
./test, for instance. All files share one password, read from the terminal
without echo (twice when a file is to be encrypted) unless one of the
password options gives it. A password has at most 1024 characters (UTF-16
code units), as in the program.

Options not given take the values Keshlor saved in its settings, or else the
defaults marked *; ksr never changes the settings, and says once on standard
error when a saved value other than the default is in effect.
  -d              decrypt, as the command "decrypt"
  -t              test, as the command "test"
  --high          high encryption (128-bit key)*, where the system offers it
  --low           low encryption (40-bit key)
  --fast          fast compression*
  --best          best compression
  --hide          give new containers the hidden attribute*
  --no-hide       leave new containers visible
  --wipe          overwrite plain files with random bytes before deleting them*
  --no-wipe       delete plain files without overwriting them
  -k, --keep      keep each source (plain file or container) beside the result
  -c, --stdout    write the result to standard output instead of a file, and
                  keep the source; takes one FILE
  --password-file FILE
                  read the password from FILE: its whole content as UTF-8,
                  less one final newline ("\n" or "\r\n"); empty is a password.
                  FILE itself is never encrypted, decrypted or replaced
  --password-fd N read the password in the same way from file descriptor N
  -f, --yes       answer yes to every question: overwrite an existing target,
                  retry a wipe that failed (at most 3 times, then cancel)
  --no            answer no to every question: keep an existing target, delete
                  a plain file unwiped when wiping it fails
  -j, --jobs N    work on up to N files at once in up to N worker processes
                  (default 1); files that share a name (a and a.ksr) go one
                  after another; messages still come whole, in the files'
                  order, and questions one at a time
  -v, --verbose   also say what became of each file
  -q, --quiet     no notes and no progress line; failures are still shown
  -h, --help      show this help and exit
  -V, --version   show the version and exit
  --              end of options; every argument after it is a FILE

When a target exists, the question whether to overwrite it comes before the
password, for every file in turn, unless --yes answers it. Other questions
are asked when they arise. Without --yes or --no, questions are asked on the
terminal; with no terminal the safe answer (no, cancel) is taken. Every
message goes to standard error with the file it concerns and the message's
caption. On a terminal, a file of more than 4 MiB shows its progress on
standard error.

As a filter, "ksr -" (or "ksr encrypt -") encrypts standard input to standard
output, "ksr -d -" decrypts it back and "ksr -t -" tests it (a file named - is
given as ./-):
  tar c folder | ksr --password-file pw - > folder.tar.ksr
  ksr -d -c --password-file pw folder.tar.ksr | tar x
The password then comes from --password-file, --password-fd (neither of them
standard input) or the terminal. Data streams through without touching the
disk. No container is written to a terminal. A decryption to standard output
holds back the first 16 MiB of plain data in memory: a wrong password or a
damaged container found within them gives no output at all. Past 16 MiB the
data flows on as it is decrypted, and damage found later ends the run with
its message and status after the data before it was written, as gzip does
with -d -c. A reader that goes away (ksr -d -c file.ksr | head) ends the run
quietly with status 141.

A container does not record its strength: decrypt it with the --high or --low
setting it was encrypted with.

Only regular files are taken: a symbolic link, folder, device, FIFO or socket
is refused, and so is a file that other hard links also name. A new file is
written under a temporary name and replaces an existing one only when complete.

A file that fails does not stop the others.
Exit status, of the first file (in the order given) that did not succeed:
  0  every file done
  1  a file failed (its message says why), or it was done but its source could
     not be removed or its wipe was abandoned, or it holds the password
  2  bad arguments, passwords that do not match, or a password that cannot be
     read or is too long; no file was touched
  3  wrong password, other encryption strength, or a damaged container
  4  declined: the target existed and was not overwritten
A stop by SIGINT, SIGTERM or SIGHUP leaves the file being worked on as it was,
removes what the run had written, and exits with 128 + the signal's number
(130 for Ctrl+C); 141 is a reader of standard output that went away.
)");
}
