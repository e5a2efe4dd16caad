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
// to do: cancelled, the row's path failed (reported), or the name chosen
// leads to the source itself (said).
struct CopyTargetPlan;
bool ChooseCopyTarget(QWidget* owner, const QString& caption, int row, QString* source,
                      QString* target, CopyTargetPlan* plan);
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
// Which forms of a chosen name the user agreed to replace. They go only
// after the copy succeeded: the form the copy takes is replaced by it, the
// other is removed then, so that the folder holds the name in the source's
// form only and a failed copy leaves both as they were.
struct CopyTargetPlan {
    bool replacePlain = false;     // a plain file of the name
    bool replaceContainer = false; // a container of the name
};
// Asks about the existing forms of `target` (a plain name), refusing
// protected files and folders. True when another name must be asked for (the
// user was told why); false with `plan` filled when the copy may go ahead.
bool ClearCopyTarget(QWidget* owner, const QString& caption, QString* target, CopyTargetPlan* plan);
