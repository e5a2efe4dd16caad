#pragma once
// The commands that take a file, or a batch of files from the list, to the
// engine through the password dialogs; and the two hooks through which the
// main window keeps an open password dialog usable.
#include <QString>

class QTreeWidget;
class QWidget;

enum class BatchScope : int {
    All = 0,
    HiddenOnly = 1,
    VisibleOnly = 2,
};

// Starts encrypting a plain file or decrypting a container (by its name)
// named by a full path. True when a command was started; false for an empty
// path or one too long to take or lose the container extension.
bool OpenFileByName(QWidget* owner, const QString& path);
// The open-file dialog; true when a file was chosen, its path in `path`.
bool ChooseFileToOpen(QWidget* owner, QString* path);
void BatchEncrypt(QWidget* owner, QTreeWidget* list, BatchScope scope);
void BatchDecrypt(QWidget* owner, QTreeWidget* list, BatchScope scope);
// The main window changed size: an open password dialog places itself again.
void NotifyPasswordDialogResized();
// The main window got the focus: an open password dialog takes it back.
void FocusPasswordDialog();
