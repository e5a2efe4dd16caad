// The password dialogs and the file operations are not part of this build
// yet. The shell and the file browser call into them by name all the same;
// until their own definitions replace these, each one does nothing the user
// can see and answers as if there were nothing to do (no file chosen, nothing
// started, no menu shown).
#include "command_operations.h"
#include "list_activation.h"

bool OpenFileByName(QWidget*, const QString&) {
    return false;
}
bool ChooseFileToOpen(QWidget*, QString*) {
    return false;
}
void BatchEncrypt(QWidget*, QTreeWidget*, BatchScope) {}
void BatchDecrypt(QWidget*, QTreeWidget*, BatchScope) {}

// Interim: a tap or Enter on a row does nothing visible until the encrypt and
// decrypt commands land.
void ActivateListItem(QWidget*, QTreeWidget*, int) {}
// Interim: no context menu opens until the file operations land.
void ShowContextMenu(QWidget*, QTreeWidget*, int, const QPoint&) {}
