#pragma once
// What the shell asks of the file browser that fills its view: filling the
// storage and folder selectors and the file list, fitting the list's columns,
// and naming the current choices for the settings store. They act on the view
// in g_view and do nothing while it does not exist.
#include <QString>

class ViewArea;

// The view's own set-up, right after it is created: selectors, list, focus.
void InitView(ViewArea* view);
// Refills the storage selector; true when the former choice was kept.
bool FillStorageSelector(int defaultPosition);
// Refills the folder selector for the chosen storage; true when the former
// choice was kept.
bool FillFolderSelector(int defaultPosition);
// Refills the list for the current choices. The selection stays on its file
// (or on the file KeepSelectionOn named, or on the row that took its place)
// and, while the same folders are shown, the list keeps its scroll position.
void RefreshFileList();
// Sizes the list's columns by the "Show date" and "Show size" options.
void FitColumns();
// The chosen storage card and subfolder; empty for the fixed entries at the
// top of their selectors or when nothing is chosen.
QString CurrentStorageName();
QString CurrentFolderName();
// The folder the view shows: the chosen subfolder, or the chosen storage's
// base folder (Main Memory's for All Storage and All Folders). Empty while
// there is no view.
QString CurrentFolderPath();
