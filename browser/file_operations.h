#pragma once
// The file operations of the list's context menu on a row's file: the plain
// file of a plain row, the container of a container row. A plain file is
// only ever removed through DisposePlainFile, so "Wipe after encryption"
// covers it; containers are simply deleted. Messages are owned by `owner`,
// and `caption` is the text of the chosen command ("Copy", "Move / Rename").
#include <QString>

class QWidget;

// Asks for the destination of a copy or move with the save dialog, until the
// chosen name is clear (ClearCopyTarget) or the user cancels. True with both
// paths filled, with ".ksr" for a container row; false when there is nothing
// to do: cancelled, the row's path failed (reported), or the name chosen is
// the source's own (silently).
bool ChooseCopyTarget(QWidget* owner, const QString& caption, int row, QString* source,
                      QString* target);
// True when a destination was chosen, so the list is to be refilled, whether
// or not the copy then worked ("Copy Failed", kCopyFailed, when it did not).
bool CopyItem(QWidget* owner, const QString& caption, int row);
// A copy followed by the removal of the source, which stays when the copy
// failed ("Move Failed", kMoveCopyFailed). True as for CopyItem.
bool MoveItem(QWidget* owner, const QString& caption, int row);
// Asks "OK to delete file?"; true when the user said Yes and the removal was
// tried. A container whose deletion fails stays without a message.
bool DeleteItemFile(int row, QWidget* owner);
// Flips the hidden attribute of the row's file; true when it changed.
bool ToggleHidden(int row, QWidget* owner);

enum class ExistingTarget {
    None = 0,        // no such file
    Replaceable = 1, // it exists and may be replaced
    Kept = 2,        // it must stay: the user was told why, or said No
};
// A file that is read-only, system or otherwise protected, or a folder, is
// refused with `refusal` (the folder with a text of its own); any other file
// is put to `question`, or may be replaced without one when it is empty.
ExistingTarget CheckExistingTarget(QWidget* owner, const QString& caption, const QString& path,
                                   const QString& refusal, const QString& question);
// Makes room for a copy at `target` (a plain name), in both its plain and
// its container form, so that afterwards the folder holds the name in the
// source's form only. True when another name must be asked for (the user
// was told why); `target` is then as it came.
bool ClearCopyTarget(QWidget* owner, const QString& caption, QString* target);
