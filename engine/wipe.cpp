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

bool RefuseOtherNames(plat::FileHandle file, const QString& path) {
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

// Overwrites the open file's whole length once with random bytes and flushes
// it; `overwritten` grows by every byte written, also on failure.
bool WipeOpenFile(plat::FileHandle file, uint64_t* overwritten) {
    uint64_t remaining = 0;
    HCRYPTPROV provider = nullptr;
    if (!plat::SeekToStart(file) || !plat::GetFileSize(file, &remaining) ||
        !CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    uint8_t buffer[kWipePiece];
    bool ok = true;
    while (remaining != 0) {
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

DisposeOutcome LastDisposeOutcome() {
    return t_lastDisposeOutcome;
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
