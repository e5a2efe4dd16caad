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
#include "platform/source_proof.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <sys/stat.h>

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

// Whether both names lead to one file (device and inode), following links.
bool IsSameFile(const QString& a, const QString& b) {
    struct stat first;
    struct stat second;
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Whether the chosen name leads to the file that is to be copied: then
// copying onto it would destroy it. That is so for another spelling of its
// name where storage ignores case, and for another name of the same file;
// where names differ only in case on storage that keeps case, they are two
// files and the copy is real.
bool NamesTheSource(const QString& chosen, const QString& sourceFile) {
    return IsSameFile(chosen, sourceFile) ||
           IsSameFile(chosen + QString::fromUtf16(kContainerExtension), sourceFile);
}

// Said, so that a name differing only in case from the source's, on storage
// that ignores case, does not seem to do nothing.
void SayNamesTheSource(QWidget* owner, const QString& caption, const QString& chosen,
                       const QString& source) {
    plat::MessageBox(HandleOf(owner),
                     QStringLiteral("\u201c%1\u201d is the same file as \u201c%2\u201d, so there "
                                    "is nothing to do.")
                         .arg(chosen, source),
                     caption, plat::kMbOk | plat::kMbIconExclamation);
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

bool ClearCopyTarget(QWidget* owner, const QString& caption, QString* target,
                     CopyTargetPlan* plan) {
    *plan = CopyTargetPlan{};
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
    target->truncate(plainLength);
    if (container == ExistingTarget::Kept)
        return true;
    // Nothing goes yet: a copy that then fails leaves both forms as they are.
    plan->replacePlain = plain == ExistingTarget::Replaceable;
    plan->replaceContainer = container == ExistingTarget::Replaceable;
    return false;
}

bool ChooseCopyTarget(QWidget* owner, const QString& caption, int row, QString* source,
                      QString* target, CopyTargetPlan* plan) {
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
        if (NamesTheSource(chosen, sourceFile)) {
            SayNamesTheSource(owner, caption, chosen, sourceFile);
            return false;
        }
    } while (ClearCopyTarget(owner, caption, &chosen, plan));

    if (container)
        chosen += QString::fromUtf16(kContainerExtension);
    *source = sourceFile;
    *target = chosen;
    return true;
}

namespace {

// The copy writes in the target's folder: what crashed runs left there goes
// first. The file of the target's name that the copy replaces goes only once
// the copy is on the disk (a plain file the way plain files go), and then the
// name's other form that the user agreed to replace.
bool CopyToTarget(QWidget* owner, const QString& source, const QString& target, bool container,
                  const CopyTargetPlan& plan, plat::HeldSource* held = nullptr) {
    RemoveLeftovers(QFileInfo(target).absolutePath());
    plat::Replacement replaced;
    if (!plat::CopyFile(source, target, false, held, container ? nullptr : &replaced))
        return false;
    DisposeReplacedPlainFile(HandleOf(owner), &replaced);
    if (container && plan.replacePlain) {
        DisposePlainFile(HandleOf(owner), target.chopped(kContainerExtensionLength));
    } else if (!container && plan.replaceContainer) {
        const QString other = target + QString::fromUtf16(kContainerExtension);
        if (plat::GetFileKind(other) == plat::FileKind::Regular && !plat::DeleteFile(other)) {
            RecordError(kCopyTargetNotDeleted);
            ReportError(HandleOf(owner), QStringLiteral("Overwrite Error"));
        }
    }
    return true;
}

// The source's name held another file by the time the copy was done, or the
// source changed since the copy began: nothing of it goes, and the user hears why.
void SaySourceKept(QWidget* owner, const plat::TakenSource& source) {
    QString text = source.proof == plat::SourceProof::Changed
                       ? QStringLiteral("\u201c%1\u201d changed while it was being moved; both "
                                        "copies were kept.")
                       : QStringLiteral("\u201c%1\u201d was replaced by another file while it "
                                        "was being moved, so Keshlor kept that file beside the "
                                        "copy.");
    text = text.arg(source.path);
    if (!source.aside.isEmpty())
        text += QLatin1Char('\n') + KeptAsideDetail(source.aside);
    plat::MessageBox(HandleOf(owner), text, QStringLiteral("Can't delete!"),
                     plat::kMbOk | plat::kMbIconExclamation);
}

// A moved container goes like any container (no wipe), but only while its
// name still holds the file that was copied.
void RemoveMovedContainer(QWidget* owner, plat::TakenSource* source) {
    if (plat::IsReadOnlyHandle(source->file)) {
        plat::SetLastError(plat::kErrorAccessDenied);
    } else {
        switch (plat::TakeOffName(source)) {
        case plat::SourceProof::Proven:
            if (plat::DeleteTaken(source))
                return;
            {
                const plat::LastErrorKeeper keep;
                plat::PutBack(source);
            }
            break;
        case plat::SourceProof::Other:
        case plat::SourceProof::Changed:
            SaySourceKept(owner, *source);
            return;
        case plat::SourceProof::Failed:
            break;
        }
    }
    RecordError(kMovedSourceNotDeleted);
    ReportError(HandleOf(owner), QStringLiteral("Delete Failed"));
}

} // namespace

bool CopyItem(QWidget* owner, const QString& caption, int row) {
    const bool container = IsItemEncrypted(row);
    QString source;
    QString target;
    CopyTargetPlan plan;
    if (!ChooseCopyTarget(owner, caption, row, &source, &target, &plan))
        return false;
    if (!CopyToTarget(owner, source, target, container, plan)) {
        RecordError(kCopyFailed);
        ReportError(HandleOf(owner), QStringLiteral("Copy Failed"));
    }
    return true;
}

bool MoveItem(QWidget* owner, const QString& caption, int row) {
    const bool container = IsItemEncrypted(row);
    QString source;
    QString target;
    CopyTargetPlan plan;
    if (!ChooseCopyTarget(owner, caption, row, &source, &target, &plan))
        return false;
    // The copy is on the disk under its name before the source goes, and the
    // descriptor it was read through stays open until then, so that what goes
    // is the file that was copied, unchanged since the copy began.
    plat::HeldSource held;
    if (!CopyToTarget(owner, source, target, container, plan, &held)) {
        RecordError(kMoveCopyFailed);
        ReportError(HandleOf(owner), QStringLiteral("Move Failed"));
        return true;
    }
    KeepSelectionOn(target);
    plat::TakenSource copied(source, held.file.get(), held.opened, true);
    if (container)
        RemoveMovedContainer(owner, &copied);
    else if (DisposeReadPlainFile(HandleOf(owner), &copied) == DisposeOutcome::Changed)
        SaySourceKept(owner, copied);
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
