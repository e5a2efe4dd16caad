#include "gui/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QStringList>

namespace {

FileDialogPort g_port;

bool ShowQtFileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosen) {
    const QPointer<QFileDialog> dialog = MakeFileDialog(owner, request);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    // The owner may have taken the dialog with it while it was open.
    if (!dialog)
        return false;
    const QString picked = accepted ? dialog->selectedFiles().value(0) : QString();
    delete dialog.data();
    if (picked.isEmpty())
        return false;
    *chosen = picked;
    return true;
}

} // namespace

QFileDialog* MakeFileDialog(QWidget* owner, const FileDialogRequest& request) {
    QStringList filters;
    for (const FileFilter& filter : request.filters)
        filters << QStringLiteral("%1 (%2)").arg(filter.description, filter.pattern);
    auto* dialog = new QFileDialog(owner, request.title);
    dialog->setNameFilters(filters);
    if (request.kind == FileDialogRequest::Kind::Open) {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        // The callers check an existing target themselves, with their own question.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
    }
    // A folder to open in, or a file to offer in its folder.
    const QFileInfo initial(request.initialPath);
    if (!request.initialPath.isEmpty()) {
        if (initial.isDir()) {
            dialog->setDirectory(initial.absoluteFilePath());
        } else {
            dialog->setDirectory(initial.absolutePath());
            dialog->selectFile(initial.fileName());
        }
    }
    return dialog;
}

void SetFileDialogPort(FileDialogPort port) {
    g_port = std::move(port);
}

bool RunFileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosen) {
    return g_port ? g_port(owner, request, chosen) : ShowQtFileDialog(owner, request, chosen);
}
