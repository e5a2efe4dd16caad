#include "wipe.h"

#include "crypto_api.h"
#include "error_report.h"
#include "files.h"
#include "last_error.h"

#include <algorithm>

namespace {
constexpr uint32_t kWipePiece = 4096;
}

bool WipeFileData(const QString& path) {
    const plat::FileHandle file =
        plat::CreateFile(path, plat::Access::Write, plat::Disposition::OpenExisting);
    if (file == plat::kInvalidHandle)
        return false;
    uint64_t remaining = 0;
    HCRYPTPROV provider = nullptr;
    if (!plat::SeekToStart(file) || !plat::GetFileSize(file, &remaining) ||
        !CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        plat::CloseHandle(file);
        return false;
    }
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
    plat::CloseHandle(file);
    return ok;
}

void DisposePlainFile(plat::WindowHandle window, const QString& path) {
    if (!IsOptionChecked(WipePlainFiles)) {
        if (!plat::DeleteFile(path)) {
            RecordError(38);
            ReportError(window, QStringLiteral("Delete Error"));
        }
        return;
    }
    bool wiped = WipeFileData(path);
    while (!wiped) {
        const int answer = plat::MessageBox(
            window,
            QStringLiteral(
                "Wipe failed!\nClose any other applications which may be accessing this file."),
            QStringLiteral("Can't wipe!"), plat::kMbRetryCancel | plat::kMbIconQuestion);
        if (answer != plat::kIdRetry)
            break;
        wiped = WipeFileData(path);
    }
    if (plat::DeleteFile(path))
        return;
    // Only a wiped file gets the "data wiped" message; an abandoned wipe left the data as it was.
    if (wiped) {
        RecordError(37);
        ReportError(window, QStringLiteral("Wipe Delete Error"));
    } else {
        RecordError(38);
        ReportError(window, QStringLiteral("Delete Error"));
    }
}
