#pragma once
// The four password dialogs: one password for decryption (single file, batch)
// and password plus confirmation for encryption (single file, batch). They
// read and write the caller's PasswordRequest and leave their outcome in its
// `result`.
#include "commands/password_request.h"

#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>

class QWidget;

// The four dialogs, named by the number the commands pass on (a retry
// shows the dialog it was given again, so a batch keeps its batch dialog).
enum PasswordDialogId : int {
    SingleDecryptDialog = 114,
    SingleEncryptDialog = 115,
    BatchDecryptDialog = 132,
    BatchEncryptDialog = 133,
};

// What a dialog asks the password for, so that the user can tell even when
// no list is on screen (a file given on the command line).
struct PasswordSubject {
    QString title; // "Encrypt notes.txt", "Decrypt all visible files"
    QString path;  // the file the dialog names; empty for a batch
};

// Shows the dialog modally over `owner` and returns once it has ended, with
// the outcome in request->result and, on Accepted and AcceptedOpen, the
// password in request->password. False only when the dialog cannot be made
// (unknown number, no request, or another password dialog still open).
bool ShowPasswordDialog(QWidget* owner, int dialogId, PasswordRequest* request,
                        const PasswordSubject& subject = {});

// The main window changed size: an open password dialog places itself again.
void NotifyPasswordDialogResized();
// The main window got the focus: the open password dialog takes it back, on
// the control that last had it.
void FocusPasswordDialog();

// Opening a file in its own application; false, with the reason in words,
// when it could not be opened. The encrypt dialog's "&Open" uses it, and so
// does the decrypt command's "open".
using OpenFileHandler = std::function<bool(const QString& path, QString* reason)>;
// An empty handler restores the desktop's own opener (plat::OpenWithDesktop).
void SetOpenFileHandler(OpenFileHandler handler);
// Opens the file; when that fails, says so over `owner` ("Can't open!", with
// the file and the reason) before it returns false.
bool OpenFileWithShell(QWidget* owner, const QString& path);

// The program's help, at an anchor of its guide, asked for from a dialog.
using PasswordHelpHandler = std::function<void(QWidget* dialog, const QString& anchor)>;
void SetPasswordHelpHandler(PasswordHelpHandler handler);

// The icon of the notification area while a dialog is open; an empty source
// gives a picture from the style.
using NotificationIconSource = std::function<QIcon()>;
void SetPasswordNotificationIcon(NotificationIconSource source);

// Where a window of rectangle `window` goes in the visible area of a screen
// that starts at `screenOrigin`: centred across; centred down the first time,
// later only when it sticks out of the visible area above or below. A window
// too large for the area goes to the screen's edge.
QPoint PlaceInVisibleArea(const QRect& window, const QRect& visible, const QPoint& screenOrigin,
                          bool positioned);
// Moves a top-level window by that rule within its screen's available area
// and marks it positioned.
void PositionAboveInputPanel(QWidget* window, bool* positioned);
