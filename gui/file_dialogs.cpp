#include "gui/file_dialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace {

FileDialogPort g_port;

bool ShowQtFileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosen) {
    QStringList filters;
    for (const FileFilter& filter : request.filters)
        filters << QStringLiteral("%1 (%2)").arg(filter.description, filter.pattern);
    const QString filterText = filters.join(QStringLiteral(";;"));
    QString picked;
    if (request.kind == FileDialogRequest::Kind::Open) {
        picked =
            QFileDialog::getOpenFileName(owner, request.title, request.initialPath, filterText);
    } else {
        // The callers check an existing target themselves, with their own question.
        picked = QFileDialog::getSaveFileName(owner, request.title, request.initialPath, filterText,
                                              nullptr, QFileDialog::DontConfirmOverwrite);
    }
    if (picked.isEmpty())
        return false;
    *chosen = picked;
    return true;
}

} // namespace

void SetFileDialogPort(FileDialogPort port) {
    g_port = std::move(port);
}

bool RunFileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosen) {
    return g_port ? g_port(owner, request, chosen) : ShowQtFileDialog(owner, request, chosen);
}
