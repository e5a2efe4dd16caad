#pragma once
// The record that carries a password from the password dialogs to the
// commands and the engine, and the rules of its password buffer.
#include "engine/password_limit.h"
#include "platform/secure_memory.h"

#include <QString>
#include <QStringView>

enum class PasswordDialogResult : int {
    Cancelled = 0,    // "&Cancel", closed, or a mismatch the user did not retry
    Accepted = 1,     // "&Encrypt" with matching entries, or "&Decrypt"
    AcceptedOpen = 2, // "&Open" of a decrypt dialog
    PrefillFailed = 3 // the stored password could not be put into the fields
};

// Units of the password buffer, terminator included; a password field takes
// one unit less, so what the user typed always fits whole.
inline constexpr int kPasswordCapacity = kMaxPasswordUnits + 1;
// Second unit of an empty buffer that holds a password confirmed as empty.
inline constexpr char16_t kEmptyPasswordMark = u'#';

// One for the whole run: the password stays here between commands so that the
// next dialog can offer it, and is never written to storage. It is kept out
// of swap while the request lives and zeroed when it ends; a request is not
// copied, so no unguarded copy of the password exists.
struct PasswordRequest {
    QString plainPath; // the encrypt dialog's "&Open" opens this file
    char16_t password[kPasswordCapacity] = {};
    PasswordDialogResult result = PasswordDialogResult::Cancelled;
    int prefill = 0; // 1: the next dialog shows the stored password, then clears this
    plat::SecretGuard passwordGuard{password, sizeof password};
};

// Non-empty, or empty with the mark.
bool IsPasswordStored(const PasswordRequest& request);
// The password as the engine takes it (empty for a marked empty password).
QString PasswordText(const PasswordRequest& request);
// Replaces the stored password, up to the buffer's capacity; an empty entry
// is stored with the mark. Nothing of the former password is left behind.
void StorePassword(PasswordRequest* request, QStringView password);
void ClearPassword(PasswordRequest* request);
