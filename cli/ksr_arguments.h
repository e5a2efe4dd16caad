#pragma once
// ksr's command line: what to do, to which files, with which options.
#include <QString>
#include <QStringList>

#include <optional>

enum class KsrCommand {
    ByName, // a ".ksr" name is decrypted, anything else encrypted
    Encrypt,
    Decrypt,
};

// How the engine's questions are answered before they are asked.
enum class PresetAnswer { None, Yes, No };

struct KsrArguments {
    bool help = false;
    KsrCommand command = KsrCommand::ByName;
    QStringList files;
    // Only options given as flags are set; the rest come from the settings store.
    std::optional<bool> high;
    std::optional<bool> fast;
    std::optional<bool> hide;
    std::optional<bool> wipe;
    PresetAnswer answer = PresetAnswer::None;
    std::optional<QString> passwordFile;
    std::optional<int> passwordFd;
};

// False, with `problem` filled, for a command line that makes no sense.
bool ParseKsrArguments(const QStringList& args, KsrArguments* parsed, QString* problem);

QString KsrHelpText();
