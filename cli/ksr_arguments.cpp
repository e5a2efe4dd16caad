#include "cli/ksr_arguments.h"

namespace {

struct Flag {
    const char* name;
    std::optional<bool> KsrArguments::*option;
    bool value;
};

constexpr Flag kOptionFlags[] = {
    {"--high", &KsrArguments::high, true}, {"--low", &KsrArguments::high, false},
    {"--fast", &KsrArguments::fast, true}, {"--best", &KsrArguments::fast, false},
    {"--hide", &KsrArguments::hide, true}, {"--no-hide", &KsrArguments::hide, false},
    {"--wipe", &KsrArguments::wipe, true}, {"--no-wipe", &KsrArguments::wipe, false},
};

// Splits "--name=value"; a bare "--name" takes the next argument as its value.
bool TakeValue(const QStringList& args, qsizetype* index, const QString& name, QString* value) {
    const QString& arg = args[*index];
    if (arg.size() > name.size()) {
        *value = arg.mid(name.size() + 1);
        return true;
    }
    if (*index + 1 >= args.size())
        return false;
    *value = args[++*index];
    return true;
}

bool NamesOption(const QString& arg, const QString& name) {
    return arg == name || arg.startsWith(name + QLatin1Char('='));
}

} // namespace

bool ParseKsrArguments(const QStringList& args, KsrArguments* parsed, QString* problem) {
    *parsed = KsrArguments{};
    bool optionsEnded = false;
    bool commandAllowed = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            if (commandAllowed && !optionsEnded && arg == QLatin1String("encrypt"))
                parsed->command = KsrCommand::Encrypt;
            else if (commandAllowed && !optionsEnded && arg == QLatin1String("decrypt"))
                parsed->command = KsrCommand::Decrypt;
            else
                parsed->files.append(arg);
            commandAllowed = false;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            parsed->help = true;
            return true;
        }
        if (arg == QLatin1String("--yes")) {
            parsed->answer = PresetAnswer::Yes;
            continue;
        }
        if (arg == QLatin1String("--no")) {
            parsed->answer = PresetAnswer::No;
            continue;
        }
        const Flag* flag = nullptr;
        for (const Flag& candidate : kOptionFlags) {
            if (arg == QLatin1String(candidate.name))
                flag = &candidate;
        }
        if (flag) {
            parsed->*(flag->option) = flag->value;
            continue;
        }
        const QString fileOption = QStringLiteral("--password-file");
        const QString fdOption = QStringLiteral("--password-fd");
        QString value;
        if (NamesOption(arg, fileOption) || NamesOption(arg, fdOption)) {
            const bool isFile = NamesOption(arg, fileOption);
            const QString& name = isFile ? fileOption : fdOption;
            if (!TakeValue(args, &i, name, &value)) {
                *problem = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            if (parsed->passwordFile || parsed->passwordFd) {
                *problem = QStringLiteral("only one of --password-file and --password-fd may "
                                          "be given, once");
                return false;
            }
            if (isFile) {
                if (value.isEmpty()) {
                    *problem = QStringLiteral("--password-file needs a file name");
                    return false;
                }
                parsed->passwordFile = value;
            } else {
                bool number = false;
                const int fd = value.toInt(&number, 10);
                if (!number || fd < 0) {
                    *problem =
                        QStringLiteral("--password-fd needs a file descriptor number, not '%1'")
                            .arg(value);
                    return false;
                }
                parsed->passwordFd = fd;
            }
            continue;
        }
        *problem = QStringLiteral("unknown option '%1'").arg(arg);
        return false;
    }
    if (parsed->files.isEmpty()) {
        *problem = QStringLiteral("no file given");
        return false;
    }
    return true;
}

QString KsrHelpText() {
    return QStringLiteral(
        R"(Usage: ksr [OPTION]... FILE...
       ksr encrypt [OPTION]... FILE...
       ksr decrypt [OPTION]... FILE.ksr...

Encrypts each FILE into FILE.ksr under a password and removes FILE, or
decrypts each FILE.ksr back into FILE and removes the container. Without
"encrypt" or "decrypt", a FILE whose name ends in ".ksr" (any letter case) is
decrypted and any other FILE is encrypted. All files share one password, read
from the terminal without echo (twice when a file is to be encrypted) unless
one of the password options gives it.

Options not given take the values Keshlor saved in its settings, or else the
defaults marked *; ksr never changes the settings.
  --high          high encryption (128-bit key)*, where the system offers it
  --low           low encryption (40-bit key)
  --fast          fast compression*
  --best          best compression
  --hide          give new containers the hidden attribute*
  --no-hide       leave new containers visible
  --wipe          overwrite plain files with random bytes before deleting them*
  --no-wipe       delete plain files without overwriting them
  --password-file FILE
                  read the password from FILE: its whole content as UTF-8,
                  less one final newline ("\n" or "\r\n"); empty is a password
  --password-fd N read the password in the same way from file descriptor N
  --yes           answer yes to every question: overwrite an existing target,
                  retry a wipe that failed (at most 3 times, then cancel)
  --no            answer no to every question: keep an existing target, delete
                  a plain file unwiped when wiping it fails
  -h, --help      show this help and exit
  --              end of options; every argument after it is a FILE

Without --yes or --no, questions are asked on the terminal; with no terminal
the safe answer (no, cancel) is taken. Every message goes to standard error
with the file it concerns and the message's caption.

A container does not record its strength: decrypt it with the --high or --low
setting it was encrypted with.

Only regular files are taken: a symbolic link, folder, device, FIFO or socket
is refused, and so is a file that other hard links also name. A new file is
written under a temporary name and replaces an existing one only when complete.

Files are handled in turn, and a file that fails does not stop the others.
Exit status, of the first file that did not succeed:
  0  every file done
  1  a file failed (its message says why), or it was done but its source could
     not be removed or its wipe was abandoned
  2  bad arguments, passwords that do not match, or a password that cannot be
     read; no file was touched
  3  wrong password, other encryption strength, or a damaged container
  4  declined: the target existed and was not overwritten
A stop by SIGINT, SIGTERM or SIGHUP leaves the file being worked on as it was,
removes what the run had written, and exits with 128 + the signal's number
(130 for Ctrl+C).
)");
}
