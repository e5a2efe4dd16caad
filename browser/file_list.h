#pragma once
// The file list: one row per listable file of the chosen folders, plain files
// and containers alike (a container under its plain name, told apart by its
// mark), with the columns Name, Date and Size, in ascending name order.
// Rows are addressed by their index; indexes change only when the list is
// refilled. The commands drive a row through an operation with SetItemMark,
// RestoreItemMark, RefreshItemDetails and FitColumns.
#include "browser/list_marks.h"

#include <QString>

#include <cstdint>

class ViewArea;

// The row's state value (ItemStateValue of its mark); its location is under
// kItemLocationRole (row_paths.h).
inline constexpr int kItemStateRole = Qt::UserRole + 1;

// The state value of a mark as the list keeps it: the mark's image number
// shifted by 12 bits, 0 for NoMark.
inline constexpr int ItemStateValue(ItemMark mark) {
    return static_cast<int>(mark) << 12;
}

// Sets up the columns and the row pictures of the view's list, then fills it.
void InitFileList(ViewArea* view);

// The rows' texts for a file of `size` bytes: "512b", "1.50k", "1024.00M",
// "Huge!" from 4 GiB on. The decimals are the rest in the next smaller unit,
// times 100 divided by 1024, cut off.
QString SizeText(uint64_t size);
// The rows' date: the calendar day of a last-write time (nanoseconds since
// the epoch, taken as it is, not moved to local time) in the user's short
// date format. Empty when it is no valid date.
QString DateText(int64_t lastWrite);

// The narrowest the Name column gets: the row picture, the width of
// "KESHLOR" and 10 pixels.
int MinimumNameWidth();

// The next refill selects the row of `file` (with ".ksr" for a container),
// which an operation has just made: the same file under its new name.
void KeepSelectionOn(const QString& file);

// Fills the row's Date and Size cells.
void SetItemDetails(int row, uint64_t size, int64_t lastWrite);
// Reads the file at `path` again and fills the row's cells from it; leaves
// them as they are when the file cannot be read.
void RefreshItemDetails(const QString& path, int row);

// Scrolls the row into view, gives it `mark` and redraws it at once. The
// row's former state value, or -1 when there is no list or no such row.
int SetItemMark(int row, ItemMark mark);
// Puts back a state value SetItemMark returned; a negative one does nothing.
void RestoreItemMark(int row, int stateValue);
bool IsItemEncrypted(int row);
bool IsItemHidden(int row);
