#include "engine/decrypt_pipeline.h"

#include "engine/compression_stream.h"
#include "engine/engine_faults.h"
#include "engine/error_report.h"
#include "engine/key_context.h"
#include "engine/wipe.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"

namespace {

thread_local ContainerRemoval t_lastContainerRemoval;

// Moves the container through the cipher and inflate, chunk by chunk.
DecryptResult RunChunks(const KeyContext& context, plat::FileHandle container,
                        CompressionStream* stream, uint8_t* buffer, uint32_t chunkSize) {
    uint64_t containerSize = 0;
    plat::GetFileSize(container, &containerSize);
    uint64_t readSoFar = 0;
    for (;;) {
        if (plat::InterruptRequested())
            return DecryptResult::Cancelled;
        uint32_t count = 0;
        if (!plat::ReadFile(container, buffer, chunkSize, &count)) {
            RecordError(19);
            return DecryptResult::Failed;
        }
        readSoFar += count;
        const bool final = count < chunkSize || readSoFar == containerSize;
        // Nothing at all to decrypt: an empty or emptied container holds no file.
        if (final && count == 0)
            return DecryptResult::BadData;
        if (!CryptDecrypt(context.key, nullptr, final, 0, buffer, &count)) {
            if (plat::GetLastError() == NTE_BAD_DATA)
                return DecryptResult::BadData;
            RecordError(20);
            return DecryptResult::Failed;
        }
        uint32_t consumed = 0;
        switch (PumpCompressionStream(stream, buffer, count, &consumed)) {
        case PumpResult::Ok:
            break;
        case PumpResult::BadData:
            return DecryptResult::BadData;
        case PumpResult::Failed:
            return DecryptResult::Failed;
        }
        plat::ReportProgress(readSoFar, containerSize);
        if (final) {
            // A stream cut short would otherwise pass as a complete file.
            return stream->streamEnded ? DecryptResult::Ok : DecryptResult::BadData;
        }
    }
}

} // namespace

DecryptResult DecryptContainerToFile(plat::WindowHandle window, const QString& containerPath,
                                     const QString& plainPath, const QString& password,
                                     SourceAfterRun source) {
    if (plat::InterruptRequested())
        return DecryptResult::Cancelled;
    DecryptResult result = DecryptResult::Failed;
    KeyContext context;
    uint8_t* buffer = nullptr;
    uint32_t bufferSize = 0;
    plat::FileHandle container = plat::kInvalidHandle;
    CompressionStream* stream = nullptr;

    if (const int step = OpenKeyContext(&context, password, IsOptionChecked(HighEncryption))) {
        RecordError(10 + step);
    } else {
        bufferSize = 64 * context.blockLength;
        buffer = static_cast<uint8_t*>(EngineAllocate(bufferSize));
        if (!buffer) {
            plat::SetLastError(plat::kErrorNotEnoughMemory);
            RecordError(17);
        } else if ((container = plat::CreateFile(containerPath, plat::Access::Read,
                                                 plat::Disposition::OpenExisting)) ==
                   plat::kInvalidHandle) {
            RecordError(18);
        } else if (CreateDecompressionStream(window, plainPath, &stream) == 1) {
            result = DecryptResult::Declined;
        } else if (stream) {
            const intptr_t savedCursor = plat::ShowWaitCursor();
            result = RunChunks(context, container, stream, buffer, bufferSize);
            plat::RestoreCursor(savedCursor);
        }
    }

    EngineFree(buffer, bufferSize);
    CloseKeyContext(&context);

    if (stream) {
        plat::FileState containerState;
        if (container != plat::kInvalidHandle) {
            plat::FileTimes times;
            if (plat::GetFileTime(container, &times))
                plat::SetFileTime(stream->file, times);
        }
        // The container goes next: the plain file must be on the disk under its name first.
        if (result == DecryptResult::Ok &&
            (!plat::GetFileState(container, &containerState) ||
             !plat::CommitReplacement(&stream->target, plat::CarriedMode(containerState.mode),
                                      &containerState))) {
            RecordError(28);
            result = DecryptResult::Failed;
        }
        if (result != DecryptResult::Ok) {
            const PendingError pending = CurrentPendingError();
            DisposePartialOutput(window, &stream->target);
            // Disposal reports its own failures; the run's code stays the one to show.
            if (result == DecryptResult::Failed && CurrentPendingError().code == 0) {
                plat::SetLastErrorWithDetail(pending.lastError, pending.detail);
                RecordError(pending.code);
            }
        }
        CloseCompressionStream(stream);
    }
    if (container != plat::kInvalidHandle) {
        plat::CloseHandle(container);
        if (result == DecryptResult::Ok) {
            t_lastContainerRemoval = ContainerRemoval{};
            if (source == SourceAfterRun::Remove && !plat::DeleteFile(containerPath))
                t_lastContainerRemoval = ContainerRemoval{false, plat::GetLastError()};
        }
    }
    return result;
}

ContainerRemoval LastContainerRemoval() {
    return t_lastContainerRemoval;
}
