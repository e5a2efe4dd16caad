#include "browser/file_operations.h"

#include "browser/file_list.h"
#include "browser/row_paths.h"
#include "engine/container_name.h"
#include "engine/error_report.h"
#include "engine/wipe.h"
#include "gui/file_dialogs.h"
#include "gui/gui_ports.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/ports.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <filesystem>
#include <system_error>

namespace {

const QString kPlainRefusal = QStringLiteral(
    "Plain file exists, and attributes prevent its deletion. Please choose a different name.");
const QString kContainerRefusal = QStringLiteral(
    "Keshlor file exists, but attributes prevent its deletion. Please choose a different name.");
const QString kFolderRefusal = QStringLiteral(
    "A folder has this name, and a file cannot replace it. Please choose a different name.");
const QString kPlainQuestion = QStringLiteral("Plain file exists - do you want to overwrite it?");
const QString kContainerQuestion =
    QStringLiteral("Keshlor file exists - do you want to overwrite it?");

// The type's name as the system describes files of that name; empty when
// the system knows no type for it.
QString TypeName(const QString& path) {
    static const QMimeDatabase types;
    const QMimeType type = types.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() ? type.comment() : QString();
}

// "*." and the name's extension; a dot in a folder's name is none.
QString CopyPattern(const QString& path) {
    for (qsizetype at = path.size() - 1; at >= 0; --at) {
        const QChar c = path.at(at);
        if (c == QLatin1Char('/'))
            break;
        if (c == QLatin1Char('.'))
            return QStringLiteral("*.") + path.mid(at + 1);
    }
    return QStringLiteral("*.");
}

bool IsSameFile(const QString& a, const QString& b) {
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::path(QFile::encodeName(a).toStdString()),
                                       std::filesystem::path(QFile::encodeName(b).toStdString()),
                                       error) &&
           !error;
}

// Whether the chosen name leads to the file that is to be copied: by its
// name ignoring case, as the platform compares names, or by another name of
// the same file, which clearing the target would otherwise remove.
bool NamesTheSource(const QString& chosen, const QString& plainSource, const QString& sourceFile,
                    bool container) {
    if (chosen.compare(plainSource, Qt::CaseInsensitive) == 0)
        return true;
    if (container && chosen.compare(sourceFile, Qt::CaseInsensitive) == 0)
        return true;
    return IsSameFile(chosen, sourceFile) ||
           IsSameFile(chosen + QString::fromUtf16(kContainerExtension), sourceFile);
}

int AskOverwrite(QWidget* owner, const QString& text, const QString& caption) {
    return plat::MessageBox(HandleOf(owner), text, caption,
                            plat::kMbYesNo | plat::kMbIconQuestion | plat::kMbDefButton2);
}

void Refuse(QWidget* owner, const QString& text, const QString& caption) {
    plat::MessageBox(HandleOf(owner), text, caption, plat::kMbOk | plat::kMbIconHand);
}

} // namespace

ExistingTarget CheckExistingTarget(QWidget* owner, const QString& caption, const QString& path,
                                   const QString& refusal, const QString& question) {
    // A link or special file is neither asked about nor removed: the copy
    // itself refuses it and says what it is.
    const plat::FileKind kind = plat::GetFileKind(path);
    if (kind != plat::FileKind::Regular && kind != plat::FileKind::Folder)
        return ExistingTarget::None;
    const uint32_t attributes = plat::GetFileAttributes(path);
    if (attributes == plat::kInvalidAttributes)
        return ExistingTarget::None;
    // Neither removing a folder nor copying over it can work.
    if (attributes & plat::kAttrDirectory) {
        Refuse(owner, kFolderRefusal, caption);
        return ExistingTarget::Kept;
    }
    if (attributes & plat::kProtectiveAttributes) {
        Refuse(owner, refusal, caption);
        return ExistingTarget::Kept;
    }
    if (question.isEmpty())
        return ExistingTarget::Replaceable;
    return AskOverwrite(owner, question, caption) == plat::kIdYes ? ExistingTarget::Replaceable
                                                                  : ExistingTarget::Kept;
}

bool ClearCopyTarget(QWidget* owner, const QString& caption, QString* target) {
    // The save dialog does not ask about an existing name itself.
    const ExistingTarget plain =
        CheckExistingTarget(owner, caption, *target, kPlainRefusal, kPlainQuestion);
    if (plain == ExistingTarget::Kept)
        return true;
    const qsizetype plainLength = target->size();
    if (!AppendContainerExtension(owner, target))
        return true;
    const ExistingTarget container =
        CheckExistingTarget(owner, caption, *target, kContainerRefusal, kContainerQuestion);
    if (container == ExistingTarget::Kept) {
        target->truncate(plainLength);
        return true;
    }
    if (container == ExistingTarget::Replaceable && !plat::DeleteFile(*target)) {
        RecordError(kCopyTargetNotDeleted);
        ReportError(HandleOf(owner), QStringLiteral("Overwrite Error"));
    }
    target->truncate(plainLength);
    if (plain == ExistingTarget::Replaceable)
        DisposePlainFile(HandleOf(owner), *target);
    return false;
}

bool ChooseCopyTarget(QWidget* owner, const QString& caption, int row, QString* source,
                      QString* target) {
    QString plainSource;
    if (!BuildItemPath(owner, row, &plainSource))
        return false;
    const bool container = IsItemEncrypted(row);
    QString sourceFile = plainSource;
    if (container && !AppendContainerExtension(owner, &sourceFile))
        return false;

    // A container's type is that of the plain file inside.
    QString description = TypeName(plainSource);
    if (container)
        description += QStringLiteral(" (encrypted)");
    const FileDialogRequest request{FileDialogRequest::Kind::Save,
                                    caption,
                                    plainSource,
                                    {{description, CopyPattern(plainSource)}}};

    // Every refusal opens the dialog again on the source's name.
    QString chosen;
    do {
        chosen.clear();
        if (!RunFileDialog(owner, request, &chosen) || chosen.isEmpty())
            return false;
        if (NamesTheSource(chosen, plainSource, sourceFile, container))
            return false;
    } while (ClearCopyTarget(owner, caption, &chosen));

    if (container)
        chosen += QString::fromUtf16(kContainerExtension);
    *source = sourceFile;
    *target = chosen;
    return true;
}

namespace {

// The copy writes in the target's folder: what crashed runs left there goes first.
bool CopyToTarget(const QString& source, const QString& target) {
    RemoveLeftovers(QFileInfo(target).absolutePath());
    return plat::CopyFile(source, target, false);
}

} // namespace

bool CopyItem(QWidget* owner, const QString& caption, int row) {
    QString source;
    QString target;
    if (!ChooseCopyTarget(owner, caption, row, &source, &target))
        return false;
    if (!CopyToTarget(source, target)) {
        RecordError(kCopyFailed);
        ReportError(HandleOf(owner), QStringLiteral("Copy Failed"));
    }
    return true;
}

bool MoveItem(QWidget* owner, const QString& caption, int row) {
    const bool container = IsItemEncrypted(row);
    QString source;
    QString target;
    if (!ChooseCopyTarget(owner, caption, row, &source, &target))
        return false;
    // The copy is on the disk under its name before the source goes.
    if (!CopyToTarget(source, target)) {
        RecordError(kMoveCopyFailed);
        ReportError(HandleOf(owner), QStringLiteral("Move Failed"));
        return true;
    }
    KeepSelectionOn(target);
    if (!container) {
        DisposePlainFile(HandleOf(owner), source);
    } else if (!plat::DeleteFile(source)) {
        RecordError(kMovedSourceNotDeleted);
        ReportError(HandleOf(owner), QStringLiteral("Delete Failed"));
    }
    return true;
}

bool DeleteItemFile(int row, QWidget* owner) {
    QString path;
    if (!BuildItemPath(owner, row, &path))
        return false;
    if (plat::MessageBox(HandleOf(owner), path, QStringLiteral("OK to delete file?"),
                         plat::kMbYesNo | plat::kMbIconQuestion) != plat::kIdYes)
        return false;
    if (!IsItemEncrypted(row)) {
        DisposePlainFile(HandleOf(owner), path);
        return true;
    }
    if (!AppendContainerExtension(owner, &path))
        return false;
    // The refilled list shows a container that could not be deleted.
    plat::DeleteFile(path);
    return true;
}

namespace {

// Said rather than failing silently, so nobody takes the file for hidden.
void SayHidingIsNotKept(QWidget* owner, const QString& path) {
    const QString text = QStringLiteral("This storage keeps no extended attributes, where Keshlor "
                                        "records the hidden mark, so \u201c%1\u201d stays visible.")
                             .arg(QFileInfo(path).fileName());
    plat::MessageBox(HandleOf(owner), text, QStringLiteral("Can't hide!"),
                     plat::kMbOk | plat::kMbIconExclamation);
}

} // namespace

bool ToggleHidden(int row, QWidget* owner) {
    QString path;
    if (!BuildItemPath(owner, row, &path))
        return false;
    if (IsItemEncrypted(row) && !AppendContainerExtension(owner, &path))
        return false;
    const uint32_t attributes = plat::GetFileAttributes(path);
    if (attributes == plat::kInvalidAttributes)
        return false;
    uint32_t flipped = attributes ^ plat::kAttrHidden;
    // "Normal" stands for no bits at all and goes with no other.
    if (flipped != plat::kAttrNormal)
        flipped &= ~plat::kAttrNormal;
    if (plat::SetFileAttributes(path, flipped))
        return true;
    if ((flipped & plat::kAttrHidden) && plat::GetLastError() == plat::kErrorNotSupported)
        SayHidingIsNotKept(owner, path);
    return false;
}
