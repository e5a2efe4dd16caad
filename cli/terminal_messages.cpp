#include "cli/terminal_messages.h"

#include "platform/last_error.h"
#include "platform/ports.h"

#include <QRegularExpression>

namespace {

// Yes, Retry or OK: the answer that is not the safe one; 0 for a box with one button.
int OtherAnswer(uint32_t style) {
    switch (style & plat::kMbButtonMask) {
    case plat::kMbYesNo:
        return plat::kIdYes;
    case plat::kMbRetryCancel:
        return plat::kIdRetry;
    case plat::kMbOkCancel:
        return plat::kIdOk;
    default:
        return 0;
    }
}

QString AnswerName(int answer) {
    switch (answer) {
    case plat::kIdYes:
        return QStringLiteral("Yes");
    case plat::kIdNo:
        return QStringLiteral("No");
    case plat::kIdRetry:
        return QStringLiteral("Retry");
    case plat::kIdCancel:
        return QStringLiteral("Cancel");
    default:
        return QStringLiteral("OK");
    }
}

QString ChoicePrompt(int other) {
    switch (other) {
    case plat::kIdYes:
        return QStringLiteral("Answer y(es) or n(o) [n]: ");
    case plat::kIdRetry:
        return QStringLiteral("Answer r(etry) or c(ancel) [c]: ");
    default:
        return QStringLiteral("Answer o(k) or c(ancel) [c]: ");
    }
}

// "y" or "yes" for Yes, and so on; anything else is the safe answer.
bool Chooses(const QByteArray& reply, int other) {
    const QString word = QString::fromUtf8(reply).trimmed().toLower();
    const QString name = AnswerName(other).toLower();
    return !word.isEmpty() && (word == name || word == name.left(1));
}

// "(code 21-2)" becomes "(code 21-2: No such file or directory)": the number
// after the dash is the system's error, which a terminal user reads in words.
QString WithSystemText(const QString& text) {
    static const QRegularExpression code(QStringLiteral("\\(code (\\d+)-(\\d+)\\)"));
    QString result;
    qsizetype copied = 0;
    for (const QRegularExpressionMatch& match : code.globalMatch(text)) {
        const QString words = plat::SystemErrorText(match.captured(2).toUInt());
        if (words.isEmpty())
            continue;
        result += text.mid(copied, match.capturedEnd() - 1 - copied);
        result += QStringLiteral(": ") + words + QLatin1Char(')');
        copied = match.capturedEnd();
    }
    return result + text.mid(copied);
}

void PrintAnswer(const TerminalMessages& messages, int answer, const QString& why) {
    PrintMessage(messages, QString(),
                 QStringLiteral("answered %1 (%2)").arg(AnswerName(answer), why));
}

} // namespace

QString EscapeForTerminal(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // Controls, and the marks that reorder text, could rewrite what the terminal shows.
        const bool control = u < 0x20 || (u >= 0x7F && u < 0xA0);
        const bool reordering = u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
                                (u >= 0x2066 && u <= 0x2069) || u == 0x2028 || u == 0x2029;
        if (control)
            escaped += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (reordering)
            escaped += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

void BeginSubject(TerminalMessages* messages, const QString& subject) {
    messages->subject = subject;
    messages->presetRetries = 0;
    messages->overwriteAnswered = false;
}

void PrintMessage(const TerminalMessages& messages, const QString& caption, const QString& text) {
    QString line = QStringLiteral("ksr: ");
    if (!messages.subject.isEmpty())
        line += messages.subject + QStringLiteral(": ");
    if (!caption.isEmpty()) {
        // A caption that ends in its own mark ("OK to overwrite?") takes no colon after it.
        const QChar last = caption.back();
        const bool marked = last == QLatin1Char('?') || last == QLatin1Char('!') ||
                            last == QLatin1Char('.') || last == QLatin1Char(':');
        line += caption + (marked ? QStringLiteral(" ") : QStringLiteral(": "));
    }
    // Message boxes break their lines; a log wants one line per message.
    line += WithSystemText(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    messages.console->writeError(EscapeForTerminal(line) + QLatin1Char('\n'));
}

int ShowTerminalMessage(TerminalMessages* messages, const QString& text, const QString& caption,
                        uint32_t style) {
    if (messages->overwriteAnswered && caption == kOverwriteCaption)
        return plat::kIdYes;
    PrintMessage(*messages, caption, text);
    const int other = OtherAnswer(style);
    if (other == 0)
        return plat::kIdOk;
    const int safe = plat::SafeAnswer(style);

    switch (messages->preset) {
    case PresetAnswer::Yes:
        if (other == plat::kIdRetry) {
            if (messages->presetRetries >= kPresetRetryLimit) {
                PrintAnswer(*messages, safe,
                            QStringLiteral("--yes, after %1 retries").arg(kPresetRetryLimit));
                return safe;
            }
            ++messages->presetRetries;
        }
        PrintAnswer(*messages, other, QStringLiteral("--yes"));
        return other;
    case PresetAnswer::No:
        PrintAnswer(*messages, safe, QStringLiteral("--no"));
        return safe;
    case PresetAnswer::None:
        break;
    }

    QByteArray reply;
    switch (messages->console->askTerminal(ChoicePrompt(other), true, &reply)) {
    case TerminalRead::Line:
        return Chooses(reply, other) ? other : safe;
    case TerminalRead::EndOfInput:
        PrintAnswer(*messages, safe, QStringLiteral("input ended"));
        return safe;
    case TerminalRead::NoTerminal:
        break;
    }
    PrintAnswer(*messages, safe, QStringLiteral("no terminal to ask"));
    return safe;
}
