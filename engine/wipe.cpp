#include "engine/wipe.h"

#include "engine/crypto_api.h"
#include "engine/error_report.h"
#include "platform/last_error.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <functional>
#include <mutex>

namespace {

constexpr uint32_t kWipePiece = 4096;
// A folder is searched for leftovers at most this often.
constexpr qint64 kLeftoverSearchIntervalMs = 10'000;

thread_local DisposeOutcome t_lastDisposeOutcome = DisposeOutcome::Removed;

const QString kCantWipeText =
    QStringLiteral("Wipe failed!\nClose any other applications which may be accessing this file.");
const QString kCantWipeCaption = QStringLiteral("Can't wipe!");

bool RefuseOtherNames(int file, const QString& path) {
    plat::FileState state;
    if (!plat::GetFileState(file, &state))
        return false;
    if (state.links <= 1)
        return true;
    plat::SetLastErrorWithDetail(
        plat::kErrorTooManyLinks,
        QStringLiteral("\u201c%1\u201d has other names (hard links): overwriting it would "
                       "destroy their data too.")
            .arg(path));
    return false;
}

// Overwrites every byte of data the open file holds once with random bytes,
// and flushes it; `overwritten` grows by every byte written, also on failure.
// Holes are left alone: writing into them would take disk space a sparse file
// never had, and they hold no data.
bool WipeOpenFile(int file, uint64_t* overwritten) {
    uint64_t size = 0;
    HCRYPTPROV provider = nullptr;
    if (!plat::GetFileSize(file, &size) ||
        !CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    uint8_t buffer[kWipePiece];
    bool ok = true;
    uint64_t start = 0;
    uint64_t stop = 0;
    for (uint64_t at = 0; ok && plat::NextDataRange(file, at, size, &start, &stop); at = stop) {
        if (!plat::SeekTo(file, start)) {
            ok = false;
            break;
        }
        for (uint64_t remaining = stop - start; remaining != 0;) {
            const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(kWipePiece, remaining));
            uint32_t written = 0;
            if (!CryptGenRandom(provider, piece, buffer) ||
                !plat::WriteFile(file, buffer, piece, &written)) {
                ok = false;
                break;
            }
            *overwritten += written;
            // A device that stops taking bytes would otherwise keep this loop going forever.
            if (written == 0) {
                ok = false;
                break;
            }
            remaining -= written;
        }
    }
    // Overwritten data that never reaches the disk wipes nothing.
    if (ok && !plat::FlushFile(file))
        ok = false;
    CryptReleaseContext(provider, 0);
    return ok;
}

// One wipe pass over the file at `*current`. The first pass that can write
// moves the file out of its name first and leaves `*current` at the new one.
bool WipeAside(QString* current, bool* aside, uint64_t* overwritten) {
    const plat::UniqueFd file(
        plat::CreateFile(*current, plat::Access::Write, plat::Disposition::OpenExisting));
    if (!file.valid())
        return false;
    bool ok = RefuseOtherNames(file.get(), *current);
    if (ok && !*aside) {
        QString temporary;
        ok = plat::MoveAside(*current, plat::TemporaryKind::Plain, &temporary);
        if (!temporary.isEmpty()) {
            *current = temporary;
            *aside = true;
        }
    }
    return ok && WipeOpenFile(file.get(), overwritten);
}

// True when the wipe completed; false when the user gave up on it.
bool WipeWithRetry(plat::WindowHandle window, const std::function<bool()>& pass) {
    while (!pass()) {
        // A refusal that is no other program's doing says what it is.
        const QString detail = plat::LastErrorDetail();
        const QString text = detail.isEmpty() ? kCantWipeText : kCantWipeText + '\n' + detail;
        if (plat::MessageBox(window, text, kCantWipeCaption,
                             plat::kMbRetryCancel | plat::kMbIconQuestion) != plat::kIdRetry)
            return false;
    }
    return true;
}

// A plain file that could not be deleted: said once, with where it now lies.
DisposeOutcome ReportNotDeleted(plat::WindowHandle window, const QString& path, QString current,
                                bool wiped, uint64_t overwritten) {
    {
        const plat::LastErrorKeeper keep;
        // Untouched data may have its name back; overwritten data must not.
        if (overwritten == 0 && current != path && plat::MoveBack(current, path))
            current = path;
    }
    // Only a wiped file gets the "data wiped" message; an abandoned wipe left the data as it was.
    RecordError(wiped ? kWipedNotDeleted : kFileNotDeleted);
    if (current != path) {
        AddErrorDetail(QStringLiteral("It now has the name \u201c%1\u201d in the same folder, and "
                                      "Keshlor removes it the next time it writes there.")
                           .arg(QFileInfo(current).fileName()));
        if (!wiped)
            AddErrorDetail(QStringLiteral("Part of its data was overwritten."));
    }
    ReportError(window,
                wiped ? QStringLiteral("Wipe Delete Error") : QStringLiteral("Delete Error"));
    return current == path ? DisposeOutcome::Kept : DisposeOutcome::KeptAside;
}

DisposeOutcome Dispose(plat::WindowHandle window, const QString& path) {
    if (!IsOptionChecked(WipePlainFiles)) {
        if (plat::DeleteFile(path))
            return DisposeOutcome::Removed;
        RecordError(kFileNotDeleted);
        ReportError(window, QStringLiteral("Delete Error"));
        return DisposeOutcome::Kept;
    }
    QString current = path;
    bool aside = plat::IsTemporaryName(QFileInfo(path).fileName());
    uint64_t overwritten = 0;
    const bool wiped =
        WipeWithRetry(window, [&] { return WipeAside(&current, &aside, &overwritten); });
    if (plat::DeleteFile(current))
        return wiped ? DisposeOutcome::Removed : DisposeOutcome::RemovedUnwiped;
    return ReportNotDeleted(window, path, current, wiped, overwritten);
}

// Takes the read file off its name until it is proven; with wiping on the
// Retry question covers a file that cannot leave its name, as it covers one
// that cannot be written.
plat::SourceProof TakeReadFile(plat::WindowHandle window, plat::TakenSource* source, bool wipe) {
    plat::SourceProof proof = plat::SourceProof::Failed;
    const auto pass = [&] {
        proof = plat::TakeOffName(source);
        return proof != plat::SourceProof::Failed;
    };
    if (wipe)
        WipeWithRetry(window, pass);
    else
        pass();
    return proof;
}

// The proven file, with wiping on: opened for writing (the lease ended
// first, or the opening would break it), moved to a temporary name the
// leftover sweep finishes should the run stop, overwritten, then deleted.
DisposeOutcome WipeProven(plat::WindowHandle window, plat::TakenSource* source) {
    plat::EndLease(source);
    plat::UnlockFile(source->file);
    plat::UniqueFd file(
        plat::CreateFile(source->aside, plat::Access::Write, plat::Disposition::OpenExisting));
    plat::FileState opened;
    if (!file.valid() || !plat::GetFileState(file.get(), &opened) ||
        opened.device != source->opened.device || opened.inode != source->opened.inode) {
        const plat::LastErrorKeeper keep;
        plat::PutBack(source);
        return ReportNotDeleted(window, source->path, source->path, false, 0);
    }
    QString current = source->aside;
    if (plat::MoveAside(current, plat::TemporaryKind::Plain, &current))
        source->aside = current;
    uint64_t overwritten = 0;
    const bool wiped = WipeWithRetry(window, [&] {
        return RefuseOtherNames(file.get(), current) && WipeOpenFile(file.get(), &overwritten);
    });
    plat::TakenSource written = *source;
    written.file = file.get();
    if (plat::DeleteTaken(&written)) {
        source->aside.clear();
        return wiped ? DisposeOutcome::Removed : DisposeOutcome::RemovedUnwiped;
    }
    file.reset();
    return ReportNotDeleted(window, source->path, current, wiped, overwritten);
}

DisposeOutcome DisposeRead(plat::WindowHandle window, plat::TakenSource* source) {
    const bool wipe = IsOptionChecked(WipePlainFiles) != 0;
    // What cannot be deleted is not moved either: the usual questions and messages say so.
    if (plat::IsReadOnlyHandle(source->file))
        return Dispose(window, source->path);
    switch (TakeReadFile(window, source, wipe)) {
    case plat::SourceProof::Proven:
        break;
    case plat::SourceProof::Other:
    case plat::SourceProof::Changed:
        return DisposeOutcome::Changed;
    case plat::SourceProof::Failed:
        RecordError(kFileNotDeleted);
        ReportError(window, QStringLiteral("Delete Error"));
        return DisposeOutcome::Kept;
    }
    // The last look before anything is destroyed.
    if (!plat::StillProven(*source)) {
        source->proof = plat::SourceProof::Changed;
        plat::PutBack(source);
        return DisposeOutcome::Changed;
    }
    if (wipe)
        return WipeProven(window, source);
    if (plat::DeleteTaken(source))
        return DisposeOutcome::Removed;
    {
        const plat::LastErrorKeeper keep;
        plat::PutBack(source);
    }
    RecordError(kFileNotDeleted);
    if (!source->aside.isEmpty())
        AddErrorDetail(KeptAsideDetail(source->aside));
    ReportError(window, QStringLiteral("Delete Error"));
    return source->aside.isEmpty() ? DisposeOutcome::Kept : DisposeOutcome::KeptAside;
}

} // namespace

bool WipeFileData(const QString& path) {
    const plat::UniqueFd file(
        plat::CreateFile(path, plat::Access::Write, plat::Disposition::OpenExisting));
    if (!file.valid())
        return false;
    uint64_t overwritten = 0;
    return RefuseOtherNames(file.get(), path) && WipeOpenFile(file.get(), &overwritten);
}

DisposeOutcome DisposePlainFile(plat::WindowHandle window, const QString& path) {
    t_lastDisposeOutcome = Dispose(window, path);
    return t_lastDisposeOutcome;
}

DisposeOutcome DisposeReadPlainFile(plat::WindowHandle window, plat::TakenSource* source) {
    t_lastDisposeOutcome = DisposeRead(window, source);
    return t_lastDisposeOutcome;
}

void DisposeReplacedPlainFile(plat::WindowHandle window, plat::Replacement* target) {
    if (!target->existing.valid())
        return;
    plat::FileState replaced;
    bool wiped = true;
    // Other names keep its data, and it stays theirs; its name here was the only one else.
    const uint64_t ownNames = target->replacedAt.isEmpty() ? 0 : 1;
    if (IsOptionChecked(WipePlainFiles) && plat::GetFileState(target->existing.get(), &replaced) &&
        replaced.links <= ownNames) {
        uint64_t overwritten = 0;
        wiped = WipeWithRetry(window,
                              [&] { return WipeOpenFile(target->existing.get(), &overwritten); });
    }
    t_lastDisposeOutcome = wiped ? DisposeOutcome::Removed : DisposeOutcome::RemovedUnwiped;
    if (!target->replacedAt.isEmpty()) {
        plat::TakenSource held(target->replacedAt, target->existing.get(), replaced);
        held.aside = target->replacedAt;
        if (!plat::DeleteTaken(&held)) {
            RecordError(wiped ? kWipedNotDeleted : kFileNotDeleted);
            AddErrorDetail(QStringLiteral("The file it replaced now has the name \u201c%1\u201d in "
                                          "the same folder, and Keshlor removes it the next time "
                                          "it writes there.")
                               .arg(QFileInfo(target->replacedAt).fileName()));
            ReportError(window, wiped ? QStringLiteral("Wipe Delete Error")
                                      : QStringLiteral("Delete Error"));
            t_lastDisposeOutcome = DisposeOutcome::KeptAside;
        }
    }
    target->existing.reset();
}

DisposeOutcome LastDisposeOutcome() {
    return t_lastDisposeOutcome;
}

void ForgetLastDisposeOutcome() {
    t_lastDisposeOutcome = DisposeOutcome::Removed;
}

QString KeptAsideDetail(const QString& aside) {
    return QStringLiteral("It now has the name \u201c%1\u201d in the same folder, because "
                          "another file took its own name meanwhile; Keshlor leaves it there.")
        .arg(QFileInfo(aside).fileName());
}

void DisposePartialOutput(plat::WindowHandle window, plat::Replacement* output) {
    if (!output->file.valid())
        return;
    if (IsOptionChecked(WipePlainFiles)) {
        uint64_t overwritten = 0;
        // Still held under its temporary name, so no other run can take it meanwhile.
        WipeWithRetry(window, [&] { return WipeOpenFile(output->file.get(), &overwritten); });
    }
    plat::DiscardReplacement(output);
}

namespace {
std::mutex g_searchedLock;
QHash<QString, QElapsedTimer> g_searched;
} // namespace

void ForgetLeftoverSearches() {
    const std::lock_guard<std::mutex> guard(g_searchedLock);
    g_searched.clear();
}

void RemoveLeftovers(const QString& folder) {
    {
        const std::lock_guard<std::mutex> guard(g_searchedLock);
        QHash<QString, QElapsedTimer>& searched = g_searched;
        QElapsedTimer& last = searched[folder];
        if (last.isValid() && last.elapsed() < kLeftoverSearchIntervalMs)
            return;
        last.start();
    }
    const plat::LastErrorKeeper keep;
    const bool wipe = IsOptionChecked(WipePlainFiles) != 0;
    for (plat::Leftover& leftover : plat::ClaimLeftovers(folder)) {
        plat::FileState state;
        uint64_t overwritten = 0;
        if (wipe && leftover.kind == plat::TemporaryKind::Plain &&
            plat::GetFileState(leftover.file.get(), &state) && state.links == 1)
            WipeOpenFile(leftover.file.get(), &overwritten);
        plat::RemoveLeftover(&leftover);
    }
}
