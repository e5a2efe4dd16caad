#include "engine/decrypt_pipeline.h"

#include "engine/compression_stream.h"
#include "engine/error_report.h"
#include "engine/key_context.h"
#include "engine/wipe.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"

namespace {

thread_local ContainerRemoval t_lastContainerRemoval;

// Moves the container through the cipher and inflate, chunk by chunk.
DecryptResult RunChunks(const ChunkCipher& cipher, plat::FileHandle container,
                        CompressionStream* stream) {
    const uint32_t chunkSize = cipher.bufferSize;
    uint64_t containerSize = 0;
    plat::GetFileSize(container, &containerSize);
    uint64_t readSoFar = 0;
    for (;;) {
        if (plat::InterruptRequested())
            return DecryptResult::Cancelled;
        uint32_t count = 0;
        if (!plat::ReadFile(container, cipher.buffer, chunkSize, &count)) {
            RecordError(kContainerReadFailed);
            return DecryptResult::Failed;
        }
        readSoFar += count;
        const bool final = count < chunkSize || readSoFar == containerSize;
        // Nothing at all to decrypt: an empty or emptied container holds no file.
        if (final && count == 0)
            return DecryptResult::BadData;
        if (!CryptDecrypt(cipher.context.key, nullptr, final, 0, cipher.buffer, &count)) {
            if (plat::GetLastError() == NTE_BAD_DATA)
                return DecryptResult::BadData;
            RecordError(kDecryptFailed);
            return DecryptResult::Failed;
        }
        uint32_t consumed = 0;
        switch (PumpCompressionStream(stream, cipher.buffer, count, &consumed)) {
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

// Opens the container and starts the plain file under its temporary name,
// asking before an existing plain file would be replaced, then runs the chunks.
DecryptResult RunOnFiles(plat::WindowHandle window, const QString& containerPath,
                         const QString& plainPath, const ChunkCipher& cipher,
                         plat::UniqueFd* container, CompressionStream** stream) {
    container->reset(
        plat::CreateFile(containerPath, plat::Access::Read, plat::Disposition::OpenExisting));
    if (!container->valid()) {
        RecordError(kContainerOpenFailed);
        return DecryptResult::Failed;
    }
    if (CreateDecompressionStream(window, plainPath, stream) == 1)
        return DecryptResult::Declined;
    if (!*stream)
        return DecryptResult::Failed;
    const intptr_t savedCursor = plat::ShowWaitCursor();
    const DecryptResult result = RunChunks(cipher, container->get(), *stream);
    plat::RestoreCursor(savedCursor);
    return result;
}

// Puts the finished plain file in place, with the container's permissions
// and owner, before the container goes.
bool CommitPlainFile(plat::FileHandle container, CompressionStream* stream) {
    plat::FileState containerState;
    if (!plat::GetFileState(container, &containerState) ||
        !plat::CommitReplacement(&stream->target, plat::CarriedMode(containerState.mode),
                                 &containerState)) {
        RecordError(kPlainWriteFailed);
        return false;
    }
    return true;
}

// Gives the plain file the container's times and, after a complete run, its
// name; a plain file that did not get its name goes. Returns the run's result.
DecryptResult FinishPlainFile(plat::WindowHandle window, plat::FileHandle container,
                              CompressionStream* stream, DecryptResult result) {
    plat::FileTimes times;
    if (plat::GetFileTime(container, &times))
        plat::SetFileTime(stream->target.file.get(), times);
    if (result == DecryptResult::Ok && !CommitPlainFile(container, stream))
        result = DecryptResult::Failed;
    if (result != DecryptResult::Ok) {
        const PendingError pending = CurrentPendingError();
        DisposePartialOutput(window, &stream->target);
        // Disposal reports its own failures; the run's code stays the one to show.
        if (result == DecryptResult::Failed && CurrentPendingError().code == kNoError) {
            plat::SetLastErrorWithDetail(pending.lastError, pending.detail);
            RecordError(pending.code);
        }
    }
    return result;
}

void RemoveContainer(const QString& containerPath) {
    if (!plat::DeleteFile(containerPath))
        t_lastContainerRemoval = ContainerRemoval{false, plat::GetLastError()};
}

} // namespace

DecryptResult DecryptContainerToFile(plat::WindowHandle window, const QString& containerPath,
                                     const QString& plainPath, const QString& password,
                                     SourceAfterRun source) {
    if (plat::InterruptRequested())
        return DecryptResult::Cancelled;
    DecryptResult result = DecryptResult::Failed;
    ChunkCipher cipher;
    plat::UniqueFd container;
    CompressionStream* stream = nullptr;
    if (OpenChunkCipher(&cipher, password, 64, kDecryptProviderUnavailable, kDecryptOutOfMemory))
        result = RunOnFiles(window, containerPath, plainPath, cipher, &container, &stream);
    CloseChunkCipher(&cipher);

    if (stream) {
        result = FinishPlainFile(window, container.get(), stream, result);
        CloseCompressionStream(stream);
    }
    if (container.valid()) {
        container.reset();
        if (result == DecryptResult::Ok) {
            t_lastContainerRemoval = ContainerRemoval{};
            if (source == SourceAfterRun::Remove)
                RemoveContainer(containerPath);
        }
    }
    return result;
}

ContainerRemoval LastContainerRemoval() {
    return t_lastContainerRemoval;
}
