#pragma once
// ksr's command line: what to do, to which files, with which options.
#include <QString>
#include <QStringList>

#include <optional>

enum class KsrCommand {
    ByName, // a ".ksr" name is decrypted, anything else encrypted
    Encrypt,
    Decrypt,
    Test, // decrypt to nowhere: does the container open and end as it should?
};

// How the engine's questions are answered before they are asked.
enum class PresetAnswer { None, Yes, No };

enum class Verbosity { Quiet, Normal, Verbose };

struct KsrArguments {
    bool help = false;
    bool version = false;
    KsrCommand command = KsrCommand::ByName;
    QStringList files;
    // "ksr -", "ksr decrypt -", "ksr test -": the data comes from standard input.
    bool fromInput = false;
    // The result goes to standard output (--stdout, or data from standard input).
    bool toOutput = false;
    // Only options given as flags are set; the rest come from the settings store.
    std::optional<bool> high;
    std::optional<bool> fast;
    std::optional<bool> hide;
    std::optional<bool> wipe;
    bool keep = false;
    Verbosity verbosity = Verbosity::Normal;
    PresetAnswer answer = PresetAnswer::None;
    std::optional<QString> passwordFile;
    std::optional<int> passwordFd;
    int jobs = 1;
    // Set in a worker process that a --jobs run started: it takes files and
    // sends their messages and questions over this descriptor, and has no
    // FILE of its own.
    std::optional<int> workerChannel;
};

// False, with `problem` filled, for a command line that makes no sense.
bool ParseKsrArguments(const QStringList& args, KsrArguments* parsed, QString* problem);

QString KsrHelpText();
