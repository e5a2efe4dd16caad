#include "engine/error_report.h"

#include "platform/last_error.h"

namespace {

PendingError g_pendingError;

enum class Suffix { None, Contact, Check };

struct MessageFormat {
    const char* text;
    Suffix suffix;
};

constexpr MessageFormat kProvider{
    "Unable to access Microsoft RSA provider (code %1-%2): please check your device offers "
    "this functionality.",
    Suffix::None};
constexpr MessageFormat kEncryption{"Unexpected encryption error (code %1-%2)%3", Suffix::Contact};
constexpr MessageFormat kMemory{"Unable to allocate memory (code %1): close all unnecessary "
                                "applications and try again.",
                                Suffix::None};
constexpr MessageFormat kCreate{"Unable to create target file (code %1-%2): check the folder "
                                "exists and is writable, and storage is not full.",
                                Suffix::None};
constexpr MessageFormat kWrite{"Error writing to file (code %1-%2): check storage is not full.",
                               Suffix::None};
constexpr MessageFormat kDecryption{"Unexpected decryption error (code %1-%2)%3", Suffix::Contact};
constexpr MessageFormat kOpen{"Unable to open file for reading (code %1-%2)%3", Suffix::Check};
constexpr MessageFormat kRead{"Error reading from file (code %1-%2)%3", Suffix::Check};
constexpr MessageFormat kZlibStart{"Unable to start zlib engine (code %1)%3", Suffix::Contact};
constexpr MessageFormat kZlib{"Unexpected zlib error (code %1)%3", Suffix::Contact};
constexpr MessageFormat kProgram{"Program error (code %1)%3", Suffix::Contact};
constexpr MessageFormat kDialog{"Dialog error (code %1): probably out of memory. Close some "
                                "applications and try again.",
                                Suffix::None};
constexpr MessageFormat kCopy{"File copy failed (code %1-%2): check file permissions and "
                              "available storage space.",
                              Suffix::None};
constexpr MessageFormat kDelete{"File couldn't be deleted (code %1-%2): check if it's still open "
                                "in another application, or is write protected.",
                                Suffix::None};
constexpr MessageFormat kWiped{"File data wiped but file not deleted (code %2): close any "
                               "applications which may be accessing it and delete it manually.",
                               Suffix::None};
constexpr MessageFormat kPath{"Couldn't construct path for this file (code %1): it's probably too "
                              "long. Use another program to move and/or rename it.",
                              Suffix::None};
constexpr MessageFormat kIcons{"Problem displaying icons in file list (code %1-%2)%3",
                               Suffix::Contact};
constexpr MessageFormat kUnknown{"Unknown error (code %1-%2)%3", Suffix::Contact};

// Indexed by code; each failure site has its own number.
constexpr const MessageFormat* kFormats[] = {
    &kUnknown,                                                                      // 0
    &kProvider,   &kEncryption, &kEncryption, &kEncryption, &kEncryption,           // 1-5
    &kEncryption, &kMemory,     &kCreate,     &kEncryption, &kWrite,                // 6-10
    &kProvider,   &kDecryption, &kDecryption, &kDecryption, &kDecryption,           // 11-15
    &kDecryption, &kMemory,     &kOpen,       &kRead,       &kDecryption,           // 16-20
    &kOpen,       &kZlibStart,  &kRead,       &kZlib,                               // 21-24
    &kMemory,     &kCreate,     &kZlibStart,  &kWrite,      &kZlib,                 // 25-29
    &kProgram,    &kProgram,    &kDialog,                                           // 30-32
    &kCopy,       &kDelete,     &kCopy,       &kDelete,     &kWiped,      &kDelete, // 33-38
    &kPath,       &kPath,                                                           // 39-40
    &kIcons,      &kIcons,      &kIcons,                                            // 41-43
};
constexpr int32_t kHighestCode = static_cast<int32_t>(std::size(kFormats)) - 1;
static_assert(kHighestCode == 43);

QString SuffixText(Suffix suffix) {
    switch (suffix) {
    case Suffix::Contact:
        return QStringLiteral(": please contact Keshlor support (%1).")
            .arg(QLatin1String(kSupportContact));
    case Suffix::Check:
        return QStringLiteral(
            ": check it still exists and is readable, and close associated applications.");
    case Suffix::None:
        break;
    }
    return QString();
}

} // namespace

QString ErrorMessage(int32_t code, uint32_t lastError, const QString& detail) {
    const MessageFormat& format = (code >= 1 && code <= kHighestCode) ? *kFormats[code] : kUnknown;
    QString text = QString::fromLatin1(format.text);
    // %1 code, %2 last error (unsigned decimal), %3 suffix; each format uses a subset.
    text.replace(QLatin1String("%1"), QString::number(code));
    text.replace(QLatin1String("%2"), QString::number(lastError));
    text.replace(QLatin1String("%3"), SuffixText(format.suffix));
    if (!detail.isEmpty())
        text += QLatin1Char('\n') + detail;
    return text;
}

void RecordError(int32_t code) {
    g_pendingError.code = code;
    g_pendingError.lastError = plat::GetLastError();
    g_pendingError.detail = plat::LastErrorDetail();
}

void RecordEscape(int32_t code) {
    plat::SetLastError(plat::kErrorNotEnoughMemory);
    RecordError(code);
}

void AddErrorDetail(const QString& sentence) {
    if (!g_pendingError.detail.isEmpty())
        g_pendingError.detail += QLatin1Char(' ');
    g_pendingError.detail += sentence;
}

int ReportError(plat::WindowHandle window, const QString& caption) {
    const QString message =
        ErrorMessage(g_pendingError.code, g_pendingError.lastError, g_pendingError.detail);
    g_pendingError = PendingError{};
    return plat::MessageBox(window, message, caption, plat::kMbOk | plat::kMbIconExclamation);
}

PendingError CurrentPendingError() {
    return g_pendingError;
}
