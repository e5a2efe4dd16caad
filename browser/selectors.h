#pragma once
// The storage selector (All Storage, Main Memory, then the cards) and the
// folder selector (All Folders, the base folder, then the subfolders of the
// chosen storages, merged by name). Their positions are what the rows of the
// file list record. FillStorageSelector, FillFolderSelector,
// CurrentStorageName and CurrentFolderName are declared with the view's
// contents (view_contents.h).
#include "platform/storage_cards.h"

#include <QString>

class ViewArea;

inline constexpr int kAllPosition = 0;
inline constexpr int kBasePosition = 1;
inline constexpr int kFirstNamedPosition = 2;

// Reads the documents folder, fills the storage selector and, with "Remember
// folder" on, chooses the remembered card when it is there.
void InitStorageSelector(ViewArea* view);
// Fills the folder selector for the chosen storage and, with "Remember
// folder" on, chooses the remembered subfolder when it is there.
void InitFolderSelector(ViewArea* view);

// False for a card the documents folder lies on (its root or below): that
// folder is reached through Main Memory.
bool IsListedCard(const plat::StorageCard& card);

// The base folder of the storage at a storage selector position (1 = Main
// Memory, 2 and on = a card): the documents folder, or the card's root with
// the documents folder's place below it unless "Use storage root" is on.
// Empty for any other position.
QString StorageBaseFolder(int storagePosition);
// The folder selector's label of the base folder.
QString BaseFolderLabel();
