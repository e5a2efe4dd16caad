#include "setup/installer_console.h"

#include <QByteArray>

#include <unistd.h>

namespace setup {

namespace {

struct Choice {
    int answer;
    const char* prompt;
};

Choice FirstButton(uint32_t style) {
    switch (style & plat::kMbButtonMask) {
    case plat::kMbOkCancel:
        return {plat::kIdOk, "OK (y) or Cancel (n)? "};
    case plat::kMbYesNo:
        return {plat::kIdYes, "Yes (y) or No (n)? "};
    case plat::kMbRetryCancel:
        return {plat::kIdRetry, "Retry (y) or Cancel (n)? "};
    default:
        return {plat::kIdOk, "Press Enter. "};
    }
}

} // namespace

int AskOnTerminal(FILE* in, FILE* out, const QString& text, const QString& caption,
                  uint32_t style) {
    const Choice first = FirstButton(style);
    std::fprintf(out, "\n%s\n%s\n%s", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData(), first.prompt);
    std::fflush(out);
    char line[64];
    if (!std::fgets(line, sizeof(line), in))
        return plat::SafeAnswer(style);
    QByteArray answer(line);
    // The rest of an overlong line must not answer the next question.
    if (!answer.endsWith('\n')) {
        int c = 0;
        while ((c = std::fgetc(in)) != EOF && c != '\n') {
        }
    }
    answer = answer.trimmed().toLower();
    if ((style & plat::kMbButtonMask) == plat::kMbOk)
        return plat::kIdOk;
    if (answer == "y" || answer == "yes" || answer == "ok")
        return first.answer;
    return plat::SafeAnswer(style);
}

plat::MessageBoxPort InstallerMessageBoxPort() {
    if (qgetenv("DEBIAN_FRONTEND") == "noninteractive" || !isatty(STDIN_FILENO))
        return {};
    FILE* out = isatty(STDOUT_FILENO) ? stdout : isatty(STDERR_FILENO) ? stderr : nullptr;
    if (!out)
        return {};
    return [out](plat::WindowHandle, const QString& text, const QString& caption, uint32_t style) {
        return AskOnTerminal(stdin, out, text, caption, style);
    };
}

} // namespace setup
