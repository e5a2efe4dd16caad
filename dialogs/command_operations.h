#pragma once
// The commands that take a file, or a batch of files from the list, to the
// engine through the password dialogs.
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
