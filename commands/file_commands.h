#pragma once
// The road from a user's command to the engine: the password dialogs, one
// engine run per file, the list row under work, and the reports of what
// failed. First the entry points the shell and the file list call (named
// files, batches and a tapped row), then the steps they are made of.
#include "commands/password_request.h"
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"

#include <QString>

class QTreeWidget;
class QWidget;

enum class BatchScope : int {
    All = 0,
    HiddenOnly = 1,
    VisibleOnly = 2,
};

// What a tap on a row starts (the browser's row command): encrypts a plain
// row or decrypts a container row, updating the row as it goes.
void RunRowCommand(QWidget* owner, QTreeWidget* list, int row);
// Starts encrypting a plain file or decrypting a container (by its name)
// named by a full path. True when the path was taken: a command was started,
// or the file was refused with a message naming it (too long, not a regular
// file, missing, a plain file with other hard links), before any password
// was asked. False for an empty path, or while another command runs.
bool OpenFileByName(QWidget* owner, const QString& path);
// The open-file dialog ("Choose a file to encrypt or decrypt"); true when a
// file was chosen, its path in `path`.
bool ChooseFileToOpen(QWidget* owner, QString* path);
void BatchEncrypt(QWidget* owner, QTreeWidget* list, BatchScope scope);
void BatchDecrypt(QWidget* owner, QTreeWidget* list, BatchScope scope);
// Stops the command at work, as its Cancel button does: the run under way
// ends at its next piece with nothing changed, and no further run starts.
// Nothing happens when no command runs.
void CancelCommand();

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
