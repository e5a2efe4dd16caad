#pragma once
// The road from a user's command to the engine: the password dialogs, one
// engine run per file, the list row under work, and the reports of what
// failed. The entry points the shell and the file list call are declared in
// command_operations.h (named files, batches and a tapped row).
#include "dialogs/command_operations.h"
#include "dialogs/password_request.h"
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"

#include <QString>

class QTreeWidget;
class QWidget;

// The one request of the run, shared by every password dialog and command.
// The password stays in it between commands, so the next dialog can offer it.
PasswordRequest& SharedPasswordRequest();

// True while a command is at work, in its dialogs or in the engine. No second
// command starts meanwhile: the entry points return at once.
bool IsCommandRunning();

// The single commands. `list` is the file list when the file is one of its
// rows (`row`), else null; `prefill` 1 shows the stored password at once.
// The decrypt command, when its dialog ended with "&Open", opens the plain
// file and waits in the encrypt dialog to put the container back.
void EncryptFileCommand(const QString& plainPath, const QString& containerPath, int prefill,
                        QWidget* owner, QTreeWidget* list, int row);
void DecryptFileCommand(const QString& containerPath, const QString& plainPath, int prefill,
                        QWidget* owner, QTreeWidget* list, int row);

// One engine run, off the GUI thread, with its progress and Cancel. With a
// list, the row shows Busy meanwhile and the new file's kind, date and size
// after; a failure refills the list, and a declined or cancelled run puts the
// row back as it was.
EncryptResult RunEncrypt(const QString& plainPath, const QString& containerPath,
                         const QString& password, QWidget* owner, QTreeWidget* list, int row);
DecryptResult RunDecrypt(const QString& containerPath, const QString& plainPath,
                         const QString& password, QWidget* owner, QTreeWidget* list, int row);

// Decrypts with the request's password; while the data is refused, asks
// "Bad Password?" and shows `dialogId` again. True when the file was decrypted.
bool DecryptWithRetry(QWidget* owner, QTreeWidget* list, int row, const QString& containerPath,
                      const QString& plainPath, int dialogId);

// The "Bad Password?" text for the present "High encryption" setting.
QString BadPasswordMessage();
