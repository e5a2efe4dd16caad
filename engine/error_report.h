#pragma once
// The program's one failure channel: a failure is recorded where it happens,
// with the last error of that moment, and shown once by the caller that owns
// the user's operation.
#include "platform/ports.h"

#include <QString>
#include <cstdint>

struct PendingError {
    int32_t code = 0;
    uint32_t lastError = 0;
    QString detail; // what the file was and why it was refused, when the platform said
};

// Where users are sent for failures that should not happen.
inline constexpr const char* kSupportContact = "support@keshlor.org";

// Stores the code and the current last error with its detail; shows nothing.
void RecordError(int32_t code);
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
