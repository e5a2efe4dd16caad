#pragma once
// The open and save file dialogs, behind a port that tests replace so that
// they can choose a file without a modal loop.
#include <QList>
#include <QString>

#include <functional>

class QFileDialog;
class QWidget;

struct FileFilter {
    QString description; // "Keshlor files"
    QString pattern;     // "*.ksr"
};

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString title;       // empty: the platform's own title
    QString initialPath; // a folder, or a file to preselect
    QList<FileFilter> filters;
};

// True with `*chosen` set when the user picked a file; false when cancelled.
using FileDialogPort =
    std::function<bool(QWidget* owner, const FileDialogRequest& request, QString* chosen)>;

// The real dialog for a request, not yet shown; its owner (or the caller,
// without one) deletes it.
QFileDialog* MakeFileDialog(QWidget* owner, const FileDialogRequest& request);

// An empty port restores the real dialogs.
void SetFileDialogPort(FileDialogPort port);
bool RunFileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosen);
