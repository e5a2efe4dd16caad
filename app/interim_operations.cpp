// The file browser and the password dialogs are not part of this build yet.
// The shell calls into them by name all the same; until their own definitions
// replace these, each one does nothing the user can see and answers as if
// there were nothing to do (no choice kept, no file chosen, nothing started).
#include "browser_operations.h"
#include "command_operations.h"

void InitViewDialog(ViewArea*) {}
bool FillStorageSelector(int) {
    return false;
}
bool FillFolderSelector(int) {
    return false;
}
void RefreshFileList() {}
void FitColumns() {}
QString CurrentStorageName() {
    return {};
}
QString CurrentFolderName() {
    return {};
}

bool OpenFileByName(QWidget*, const QString&) {
    return false;
}
bool ChooseFileToOpen(QWidget*, QString*) {
    return false;
}
void BatchEncrypt(QWidget*, QTreeWidget*, BatchScope) {}
void BatchDecrypt(QWidget*, QTreeWidget*, BatchScope) {}
