#pragma once
// The program's one failure channel: a failure is recorded where it happens,
// with the last error of that moment, and shown once by the caller that owns
// the user's operation.
#include "platform/ports.h"

#include <QString>
#include <cstdint>

// The codes users see in error messages, one for each place that fails; the
// numbers are part of the messages, so they stay as they are.
enum ErrorCode : int32_t {
    kNoError = 0,
    // Encryption; 1-6 follow the steps of OpenKeyContext.
    kEncryptProviderUnavailable = 1,
    kEncryptHashNotCreated = 2,
    kEncryptPasswordNotHashed = 3,
    kEncryptKeyNotDerived = 4,
    kEncryptKeyLengthNotSet = 5,
    kEncryptBlockLengthNotRead = 6,
    kEncryptOutOfMemory = 7,
    kContainerNotCreated = 8,
    kEncryptFailed = 9,
    kContainerWriteFailed = 10,
    // Decryption; 11-16 follow the steps of OpenKeyContext.
    kDecryptProviderUnavailable = 11,
    kDecryptHashNotCreated = 12,
    kDecryptPasswordNotHashed = 13,
    kDecryptKeyNotDerived = 14,
    kDecryptKeyLengthNotSet = 15,
    kDecryptBlockLengthNotRead = 16,
    kDecryptOutOfMemory = 17,
    kContainerOpenFailed = 18,
    kContainerReadFailed = 19,
    kDecryptFailed = 20,
    // The compression stream over the plain file.
    kPlainOpenFailed = 21,
    kDeflateStartFailed = 22,
    kPlainReadFailed = 23,
    kDeflateFailed = 24,
    kInflateOutOfMemory = 25,
    kPlainNotCreated = 26,
    kInflateStartFailed = 27,
    kPlainWriteFailed = 28,
    kInflateFailed = 29,
    kStreamModeUnknown = 30,
    // Password dialogs.
    kDialogEndedWrongly = 31, // ended without the password it should have had
    kDialogNotShown = 32,
    // Copying, moving and removing files; paths; the file list.
    kMoveCopyFailed = 33,
    kMovedSourceNotDeleted = 34,
    kCopyFailed = 35,
    kCopyTargetNotDeleted = 36,
    kWipedNotDeleted = 37,
    kFileNotDeleted = 38,
    kPathNotBuilt = 39,
    kNoRoomForExtension = 40, // for ".ksr"
    kRowIconsUnavailable = 42,
};

struct PendingError {
    int32_t code = kNoError;
    uint32_t lastError = 0;
    QString detail; // what the file was and why it was refused, when the platform said
};

// Where users are sent for failures that should not happen.
inline constexpr const char* kSupportContact = "support@keshlor.org";

// Stores the code and the current last error with its detail; shows nothing.
void RecordError(int32_t code);
// Records `code` for what escaped a run as an exception: an allocation
// failure, since nothing else a run calls throws.
void RecordEscape(int32_t code);
// Runs `run`, which gives a run's result; what escapes it ends the run as
// `failed` with `code` recorded, instead of unwinding past the caller's
// clean-up (which removes what the run made) or ending the process.
template <typename Result, typename Run>
Result ContainEscapes(Result failed, int32_t code, Run run) {
    try {
        return run();
    } catch (...) {
        RecordEscape(code);
        return failed;
    }
}
// Adds a sentence to the pending error's detail.
void AddErrorDetail(const QString& sentence);
// Formats the pending error, clears it, shows it under `caption` and returns
// the message box's answer.
int ReportError(plat::WindowHandle window, const QString& caption);
// The pending error as it stands (for callers and tests that look before reporting).
PendingError CurrentPendingError();
// The text ReportError shows for `code` with `lastError`; a detail follows it
// on a line of its own.
QString ErrorMessage(int32_t code, uint32_t lastError, const QString& detail = QString());
