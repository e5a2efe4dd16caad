#include "encrypt_pipeline.h"

#include "compression_stream.h"
#include "engine_faults.h"
#include "error_report.h"
#include "files.h"
#include "key_context.h"
#include "last_error.h"
#include "wipe.h"

EncryptResult EncryptFileToContainer(plat::WindowHandle window, const QString& plainPath,
                                     const QString& containerPath, const QString& password) {
    EncryptResult result = EncryptResult::Failed;
    KeyContext context;
    uint8_t* buffer = nullptr;
    uint32_t bufferSize = 0;
    CompressionStream* stream = nullptr;
    plat::FileHandle container = plat::kInvalidHandle;
    bool haveContainer = false;

    if (const int step = OpenKeyContext(&context, password, IsOptionChecked(HighEncryption))) {
        RecordError(step);
    } else {
        const uint32_t chunkSize = 64 * context.blockLength;
        bufferSize = 65 * context.blockLength; // room for the final call's padding
        buffer = static_cast<uint8_t*>(EngineAllocate(bufferSize));
        if (!buffer) {
            plat::SetLastError(plat::kErrorNotEnoughMemory);
            RecordError(7);
        } else if ((stream = OpenCompressionStream(plainPath)) != nullptr) {
            const uint32_t attributes = IsOptionChecked(HideEncrypted)
                                            ? plat::kAttrArchive | plat::kAttrHidden
                                            : plat::kAttrArchive;
            haveContainer = CreateTargetFile(
                window, QStringLiteral("Keshlor file already exists. Do you want to overwrite it?"),
                attributes, containerPath, &container);
            if (!haveContainer) {
                result = EncryptResult::Declined;
            } else if (container == plat::kInvalidHandle) {
                RecordError(8);
            } else {
                const intptr_t savedCursor = plat::ShowWaitCursor();
                uint64_t plainSize = 0;
                plat::GetFileSize(stream->file, &plainSize);
                for (;;) {
                    uint32_t count = 0;
                    if (PumpCompressionStream(stream, buffer, chunkSize, &count) != PumpResult::Ok)
                        break;
                    const bool final = count != chunkSize;
                    if (!CryptEncrypt(context.key, nullptr, final, 0, buffer, &count, bufferSize)) {
                        RecordError(9);
                        break;
                    }
                    uint32_t written = 0;
                    if (!plat::WriteFile(container, buffer, count, &written) || written != count) {
                        RecordError(10);
                        break;
                    }
                    plat::ReportProgress(stream->stream.total_in, plainSize);
                    if (final) {
                        // The plain file goes next: the container must be on the disk first.
                        if (plat::FlushFile(container))
                            result = EncryptResult::Ok;
                        else
                            RecordError(10);
                        break;
                    }
                }
                plat::RestoreCursor(savedCursor);
            }
        }
    }

    EngineFree(buffer, bufferSize);
    CloseKeyContext(&context);

    if (haveContainer && container != plat::kInvalidHandle) {
        plat::FileTimes times;
        if (plat::GetFileTime(stream->file, &times))
            plat::SetFileTime(container, times);
        plat::CloseHandle(container);
        if (result == EncryptResult::Failed) {
            // Keep the pending code's last error: the clean-up is not what failed.
            const uint32_t lastError = plat::GetLastError();
            plat::DeleteFile(containerPath);
            plat::SetLastError(lastError);
        } else if (!plat::FlushFolderOf(containerPath)) {
            RecordError(10);
            result = EncryptResult::Failed;
            plat::DeleteFile(containerPath);
        }
    }
    if (stream) {
        CloseCompressionStream(stream);
        if (result == EncryptResult::Ok)
            DisposePlainFile(window, plainPath);
    }
    return result;
}
