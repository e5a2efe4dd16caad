#include "commands/file_commands.h"

#include "browser/file_list.h"
#include "browser/folder_watch.h"
#include "browser/row_paths.h"
#include "browser/view_contents.h"
#include "commands/password_dialogs.h"
#include "commands/work_progress.h"
#include "engine/container_name.h"
#include "engine/encrypt_pipeline.h"
#include "engine/error_report.h"
#include "gui/file_dialogs.h"
#include "gui/gui_ports.h"
#include "platform/file_checks.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"
#include "platform/path_limits.h"
#include "platform/secure_memory.h"

#include <QPointer>
#include <QTreeWidget>

namespace {

const QString kEncryptionError = QStringLiteral("Encryption Error");
const QString kBatchEncryptError = QStringLiteral("Batch Encrypt Error");
const QString kDecryptionError = QStringLiteral("Decryption Error");
const QString kDecryptDialogError = QStringLiteral("Decrypt Dialog Error");

bool g_commandRunning = false;

// Marks a command as running for its lifetime, unless one already is. A
// Cancel holds for the command it was given in, so a batch stops as well.
class CommandScope {
  public:
    CommandScope() : entered_(!g_commandRunning) {
        if (entered_)
            plat::ClearCancel();
        g_commandRunning = true;
    }
    ~CommandScope() {
        if (!entered_)
            return;
        g_commandRunning = false;
        plat::ClearCancel();
    }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;
    bool entered() const { return entered_; }

  private:
    bool entered_;
    // The command updates the list itself; a change it makes on the disk
    // refills it only once the command has ended.
    ListRefreshHold hold_;
};

void Report(QWidget* owner, ErrorCode code, const QString& caption) {
    RecordError(code);
    ReportError(HandleOf(owner), caption);
}

QString FileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A box about one file names it, which matters most where no list shows which
// (a batch, a file from the command line). The engine's own captions are left
// alone: ksr shows them too, with the file named its own way.
QString AboutFile(const QString& caption, const QString& path) {
    return caption + QStringLiteral(" \u2014 ") + FileNameOf(path);
}

PasswordSubject FileSubject(const char* verb, const QString& path) {
    return {QLatin1String(verb) + QLatin1Char(' ') + FileNameOf(path), path};
}

PasswordSubject BatchSubject(const char* verb, BatchScope scope) {
    const char* files = scope == BatchScope::HiddenOnly    ? "all hidden files"
                        : scope == BatchScope::VisibleOnly ? "all visible files"
                                                           : "all files";
    return {QLatin1String(verb) + QLatin1Char(' ') + QLatin1String(files), QString()};
}

// The row is drawn under work at once, before the run takes its first piece.
void RepaintOwner(QWidget* owner) {
    if (owner)
        owner->window()->repaint();
}

int BeginRow(QWidget* owner, QTreeWidget* list, int row) {
    if (!list)
        return -1;
    const int kept = SetItemMark(row, ItemMark::Busy);
    RepaintOwner(owner);
    return kept;
}

enum class RunOutcome { Done, Failed, Unchanged };

// The row after its run: the new file's kind, date and size; the whole list
// when files may have come or gone; else the row as it was.
void EndRow(QTreeWidget* list, int row, int kept, RunOutcome outcome, const QString& newPath,
            bool encrypted) {
    if (!list)
        return;
    switch (outcome) {
    case RunOutcome::Done: {
        const uint32_t attributes = plat::GetFileAttributes(newPath);
        if (attributes == plat::kInvalidAttributes) {
            RefreshFileList();
            return;
        }
        const bool hidden = (attributes & plat::kAttrHidden) != 0;
        ItemMark mark = hidden ? ItemMark::HiddenPlain : ItemMark::NoMark;
        if (encrypted)
            mark = hidden ? ItemMark::HiddenEncrypted : ItemMark::Encrypted;
        SetItemMark(row, mark);
        RefreshItemDetails(newPath, row);
        FitColumns();
        return;
    }
    case RunOutcome::Failed:
        RefreshFileList();
        return;
    case RunOutcome::Unchanged:
        RestoreItemMark(row, kept);
        return;
    }
}

bool InScope(BatchScope scope, bool hidden) {
    switch (scope) {
    case BatchScope::HiddenOnly:
        return hidden;
    case BatchScope::VisibleOnly:
        return !hidden;
    case BatchScope::All:
        break;
    }
    return true;
}

// Both paths of a row; false after the path's own report.
bool RowPaths(QWidget* owner, int row, QString* plainPath, QString* containerPath) {
    if (!BuildItemPath(owner, row, plainPath))
        return false;
    *containerPath = *plainPath;
    return AppendContainerExtension(owner, containerPath);
}

// A named file is a container by its own name, not by its folder's: a file
// called ".ksr" is plain here as it is in the list.
bool IsNamedContainer(const QString& path) {
    return IsContainerName(FileNameOf(path));
}

// kNoError when a named path can be taken; else why it cannot be built, with
// the last error naming it: too long itself, or no room for the container
// extension.
ErrorCode NamedPathProblem(const QString& path) {
    if (!plat::PathFits(path)) {
        plat::RefuseLongPath(path, false);
        return kPathNotBuilt;
    }
    if (IsNamedContainer(path) || plat::ContainerPathFits(path))
        return kNoError;
    plat::RefuseLongPath(path, true);
    return kNoRoomForExtension;
}

} // namespace

PasswordRequest& SharedPasswordRequest() {
    static PasswordRequest request;
    return request;
}

bool IsCommandRunning() {
    return g_commandRunning;
}

void CancelCommand() {
    if (g_commandRunning)
        plat::RequestCancel();
}

QString BadPasswordMessage() {
    if (IsOptionChecked(HighEncryption))
        return QStringLiteral("Decryption failed!\nWrong password, high encryption option "
                              "selected for a low encryption file, or file corrupted.");
    return QStringLiteral("Decryption failed!\nWrong password, high encryption option not "
                          "selected for a high encryption file, or file corrupted.");
}

void RunRowCommand(QWidget* owner, QTreeWidget* list, int row) {
    const CommandScope command;
    if (!command.entered())
        return;
    QString plainPath;
    QString containerPath;
    if (!RowPaths(owner, row, &plainPath, &containerPath))
        return;
    if (IsItemEncrypted(row))
        DecryptFileCommand(containerPath, plainPath, 0, owner, list, row);
    else
        EncryptFileCommand(plainPath, containerPath, 0, owner, list, row);
}

void EncryptFileCommand(const QString& plainPath, const QString& containerPath, int prefill,
                        QWidget* owner, QTreeWidget* list, int row) {
    PasswordRequest& request = SharedPasswordRequest();
    request.plainPath = plainPath;
    request.prefill = prefill;
    if (!ShowPasswordDialog(owner, SingleEncryptDialog, &request,
                            FileSubject("Encrypt", plainPath))) {
        Report(owner, kDialogNotShown, AboutFile(kEncryptionError, plainPath));
        return;
    }
    switch (request.result) {
    case PasswordDialogResult::Cancelled:
        return;
    case PasswordDialogResult::Accepted: {
        const plat::SecretText password(PasswordText(request));
        if (RunEncrypt(plainPath, containerPath, password.get(), owner, list, row) ==
            EncryptResult::Failed)
            ReportError(HandleOf(owner), AboutFile(kEncryptionError, plainPath));
        return;
    }
    default:
        Report(owner, kDialogEndedWrongly, AboutFile(kEncryptionError, plainPath));
        return;
    }
}

void DecryptFileCommand(const QString& containerPath, const QString& plainPath, int prefill,
                        QWidget* owner, QTreeWidget* list, int row) {
    PasswordRequest& request = SharedPasswordRequest();
    request.plainPath = plainPath;
    request.prefill = prefill;
    if (!ShowPasswordDialog(owner, SingleDecryptDialog, &request,
                            FileSubject("Decrypt", containerPath))) {
        Report(owner, kDialogNotShown, AboutFile(kDecryptDialogError, containerPath));
        return;
    }
    switch (request.result) {
    case PasswordDialogResult::Cancelled:
        return;
    case PasswordDialogResult::Accepted:
    case PasswordDialogResult::AcceptedOpen:
        if (!DecryptWithRetry(owner, list, row, containerPath, plainPath, SingleDecryptDialog))
            return;
        break;
    default:
        Report(owner, kDialogEndedWrongly, AboutFile(kDecryptDialogError, containerPath));
        return;
    }
    // The last dialog decides, a retry's included. A Cancel that came too
    // late to stop the decryption still ends the command here.
    if (request.result != PasswordDialogResult::AcceptedOpen || plat::CancelRequested())
        return;
    // A failure is told before the encrypt dialog comes up with the password
    // filled in, where a reflex Enter would encrypt again unseen.
    OpenFileWithShell(owner, plainPath);
    // Waits while the user works with the file; "&Encrypt" puts the container back.
    EncryptFileCommand(plainPath, containerPath, 1, owner, list, row);
}

EncryptResult RunEncrypt(const QString& plainPath, const QString& containerPath,
                         const QString& password, QWidget* owner, QTreeWidget* list, int row) {
    const int kept = BeginRow(owner, list, row);
    EncryptResult result;
    {
        WorkProgress progress(owner, list, row,
                              QStringLiteral("Encrypting %1").arg(FileNameOf(plainPath)));
        result = static_cast<EncryptResult>(progress.Run(
            [&] {
                return static_cast<int>(
                    EncryptFileToContainer(HandleOf(owner), plainPath, containerPath, password));
            },
            {static_cast<int>(EncryptResult::Failed), kEncryptOutOfMemory}));
    }
    const RunOutcome outcome = result == EncryptResult::Ok       ? RunOutcome::Done
                               : result == EncryptResult::Failed ? RunOutcome::Failed
                                                                 : RunOutcome::Unchanged;
    EndRow(list, row, kept, outcome, containerPath, true);
    RepaintOwner(owner);
    return result;
}

DecryptResult RunDecrypt(const QString& containerPath, const QString& plainPath,
                         const QString& password, QWidget* owner, QTreeWidget* list, int row) {
    const int kept = BeginRow(owner, list, row);
    DecryptResult result;
    {
        WorkProgress progress(owner, list, row,
                              QStringLiteral("Decrypting %1").arg(FileNameOf(plainPath)));
        result = static_cast<DecryptResult>(progress.Run(
            [&] {
                return static_cast<int>(
                    DecryptContainerToFile(HandleOf(owner), containerPath, plainPath, password));
            },
            {static_cast<int>(DecryptResult::Failed), kDecryptOutOfMemory}));
    }
    const RunOutcome outcome = result == DecryptResult::Ok       ? RunOutcome::Done
                               : result == DecryptResult::Failed ? RunOutcome::Failed
                                                                 : RunOutcome::Unchanged;
    EndRow(list, row, kept, outcome, plainPath, false);
    RepaintOwner(owner);
    return result;
}

bool DecryptWithRetry(QWidget* owner, QTreeWidget* list, int row, const QString& containerPath,
                      const QString& plainPath, int dialogId) {
    PasswordRequest& request = SharedPasswordRequest();
    const auto run = [&] {
        const plat::SecretText password(PasswordText(request));
        return RunDecrypt(containerPath, plainPath, password.get(), owner, list, row);
    };
    for (DecryptResult result = run();; result = run()) {
        switch (result) {
        case DecryptResult::Ok:
            return true;
        case DecryptResult::Declined:
        case DecryptResult::Cancelled:
            request.result = PasswordDialogResult::Cancelled;
            return false;
        case DecryptResult::Failed:
            ReportError(HandleOf(owner), AboutFile(kDecryptionError, containerPath));
            return false;
        case DecryptResult::BadData:
            break;
        }
        const int answer =
            plat::MessageBox(HandleOf(owner), BadPasswordMessage(),
                             AboutFile(QStringLiteral("Bad Password?"), containerPath),
                             plat::kMbRetryCancel | plat::kMbIconQuestion);
        if (answer != plat::kIdRetry) {
            request.result = PasswordDialogResult::Cancelled;
            return false;
        }
        request.prefill = 1;
        // Also in a batch the dialog names the file whose password was refused.
        if (!ShowPasswordDialog(owner, dialogId, &request, FileSubject("Decrypt", containerPath))) {
            Report(owner, kDialogNotShown, AboutFile(kDecryptionError, containerPath));
            return false;
        }
        if (request.result == PasswordDialogResult::Cancelled)
            return false;
        // The dialog has cleared the password it could not show: running on
        // with none would only refuse the data again.
        if (request.result == PasswordDialogResult::PrefillFailed) {
            Report(owner, kDialogEndedWrongly, AboutFile(kDecryptionError, containerPath));
            return false;
        }
    }
}

void BatchEncrypt(QWidget* owner, QTreeWidget* list, BatchScope scope) {
    const CommandScope command;
    if (!command.entered() || !list)
        return;
    PasswordRequest& request = SharedPasswordRequest();
    if (!ShowPasswordDialog(owner, BatchEncryptDialog, &request, BatchSubject("Encrypt", scope)) ||
        request.result != PasswordDialogResult::Accepted)
        return;
    const QPointer<QTreeWidget> guarded(list);
    const plat::SecretText password(PasswordText(request));
    const int count = list->topLevelItemCount();
    // A refill during the pass (a finished file that could not be read back)
    // keeps the rows' order, as no name changes; a shorter list ends the pass.
    for (int row = 0; row < count && guarded && row < list->topLevelItemCount(); ++row) {
        if (IsItemEncrypted(row) || !InScope(scope, IsItemHidden(row)))
            continue;
        QString plainPath;
        QString containerPath;
        if (!RowPaths(owner, row, &plainPath, &containerPath))
            return;
        // A declined overwrite skips the file; a failure or a stop request ends the batch.
        switch (RunEncrypt(plainPath, containerPath, password.get(), owner, list, row)) {
        case EncryptResult::Ok:
        case EncryptResult::Declined:
            break;
        case EncryptResult::Failed:
            ReportError(HandleOf(owner), AboutFile(kBatchEncryptError, plainPath));
            return;
        case EncryptResult::Cancelled:
            return;
        }
    }
}

void BatchDecrypt(QWidget* owner, QTreeWidget* list, BatchScope scope) {
    const CommandScope command;
    if (!command.entered() || !list)
        return;
    PasswordRequest& request = SharedPasswordRequest();
    if (!ShowPasswordDialog(owner, BatchDecryptDialog, &request, BatchSubject("Decrypt", scope)) ||
        request.result != PasswordDialogResult::Accepted)
        return;
    const QPointer<QTreeWidget> guarded(list);
    const int count = list->topLevelItemCount();
    for (int row = 0; row < count && guarded && row < list->topLevelItemCount(); ++row) {
        if (!IsItemEncrypted(row) || !InScope(scope, IsItemHidden(row)))
            continue;
        QString plainPath;
        QString containerPath;
        if (!RowPaths(owner, row, &plainPath, &containerPath))
            return;
        // A refused password, a declined overwrite or a failure ends the batch.
        if (!DecryptWithRetry(owner, list, row, containerPath, plainPath, BatchDecryptDialog))
            return;
    }
}

bool OpenFileByName(QWidget* owner, const QString& path) {
    const CommandScope command;
    if (!command.entered() || path.isEmpty())
        return false;
    const bool container = IsNamedContainer(path);
    // The user named this file: every refusal says why and names it, before
    // any password is asked.
    if (const ErrorCode problem = NamedPathProblem(path)) {
        Report(owner, problem,
               AboutFile(problem == kPathNotBuilt ? QStringLiteral("Path Error")
                                                  : QStringLiteral("Keshlor Path Error"),
                         path));
        return true;
    }
    const QString caption = AboutFile(container ? kDecryptionError : kEncryptionError, path);
    const ErrorCode openFailed = container ? kContainerOpenFailed : kPlainOpenFailed;
    // A name whose bytes are not text reads like another file's: refuse it
    // as a file that cannot be opened.
    if (!plat::IsFaithfulPath(path)) {
        plat::RefuseUnfaithfulName(path);
        Report(owner, openFailed, caption);
        return true;
    }
    if (!plat::CheckNamedFile(path, !container)) {
        Report(owner, openFailed, caption);
        return true;
    }
    if (container) {
        DecryptFileCommand(path, path.chopped(kContainerExtensionLength), 0, owner, nullptr, 0);
    } else {
        EncryptFileCommand(path, ContainerNameFor(path), 0, owner, nullptr, 0);
    }
    return true;
}

bool ChooseFileToOpen(QWidget* owner, QString* path) {
    // "*.*" would hide every name without a dot (README, id_rsa) here, and
    // the user wants to start where the list is.
    const FileDialogRequest request{
        FileDialogRequest::Kind::Open,
        QStringLiteral("Choose a file to encrypt or decrypt"),
        CurrentFolderPath(),
        {{QStringLiteral("All files"), QStringLiteral("*")},
         {QStringLiteral("Keshlor files"), QStringLiteral("*.ksr")}},
    };
    QString chosen;
    if (!RunFileDialog(owner, request, &chosen) || chosen.isEmpty())
        return false;
    *path = chosen;
    return true;
}
