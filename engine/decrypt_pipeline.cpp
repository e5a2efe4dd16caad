#include "engine/decrypt_pipeline.h"

#include "engine/chunk_loops.h"
#include "engine/compression_stream.h"
#include "engine/engine_faults.h"
#include "engine/error_report.h"
#include "engine/key_context.h"
#include "engine/stage_pipe.h"
#include "engine/wipe.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"
#include "platform/source_proof.h"

namespace {

thread_local ContainerRemoval t_lastContainerRemoval;

// Inflates one decrypted piece into the plain file.
DecryptResult InflateAndWrite(CompressionStream* stream, uint8_t* data, uint32_t count) {
    uint32_t consumed = 0;
    switch (PumpCompressionStream(stream, data, count, &consumed)) {
    case PumpResult::Ok:
        break;
    case PumpResult::BadData:
        return DecryptResult::BadData;
    case PumpResult::Failed:
        return DecryptResult::Failed;
    }
    return DecryptResult::Ok;
}

// After the final piece: a stream cut short would otherwise pass as a complete file.
DecryptResult StreamComplete(const CompressionStream* stream) {
    return stream->streamEnded ? DecryptResult::Ok : DecryptResult::BadData;
}

// Data with the piece read and decrypted (but for the caller's share of a
// piece that is not the last); otherwise how the run ends.
PieceOutcome ReadAndDecrypt(const ChunkCipher& cipher, const ContainerSource& container,
                            uint64_t* readSoFar, uint32_t callerShare, StagePiece* piece) {
    uint32_t count = 0;
    bool final = false;
    if (!container(piece->data, cipher.bufferSize, &count, &final)) {
        piece->code = kContainerReadFailed;
        return PieceOutcome::Failed;
    }
    *readSoFar += count;
    // Nothing at all to decrypt: an empty or emptied container holds no file.
    if (final && count == 0)
        return PieceOutcome::BadData;
    const uint32_t blockBytes = cipher.context.blockLength / 8;
    const uint32_t callerBytes =
        cipher.bufferSize / blockBytes * callerShare / StagePipe::kShareSteps * blockBytes;
    const uint32_t head = final || callerBytes > count ? count : count - callerBytes;
    if (head == count
            ? !CryptDecrypt(cipher.context.key, nullptr, final, 0, piece->data, &count)
            : !CryptDecryptHead(cipher.context.key, piece->data, count, head, piece->tailChain)) {
        if (plat::GetLastError() == NTE_BAD_DATA)
            return PieceOutcome::BadData;
        piece->code = kDecryptFailed;
        return PieceOutcome::Failed;
    }
    piece->head = head;
    piece->count = count;
    piece->final = final;
    piece->done = *readSoFar;
    return PieceOutcome::Data;
}

// Reads and decrypts the next piece of the container: the filling stage.
// RC2 is the slow part of decrypting: while the stages overlap, the caller's
// thread takes a share of each piece once inflate leaves it time to spare,
// `callerShare` 64ths of it, which are left for it to decrypt (piece->head
// says where they start). A failure's code and last error go with the piece,
// for the caller's thread to record.
bool ReadPiece(const ChunkCipher& cipher, const ContainerSource& container, uint64_t* readSoFar,
               uint32_t callerShare, StagePiece* piece) {
    if (plat::InterruptRequested()) {
        piece->outcome = PieceOutcome::Stopped;
        return false;
    }
    piece->outcome = ReadAndDecrypt(cipher, container, readSoFar, callerShare, piece);
    if (piece->outcome == PieceOutcome::Data)
        return !piece->final;
    piece->KeepLastError();
    return false;
}

DecryptResult DecryptChunks(const ChunkCipher& cipher, const ContainerSource& container,
                            uint64_t containerSize, CompressionStream* stream) {
    // Reading and decrypting fill the pieces, ahead of inflate and the plain
    // file's writes while they have a thread of their own. Until the pipe
    // stops, the container and the key's chain belong to the filling stage
    // alone; this thread only decrypts the tails it is handed.
    StagePipe pipe;
    uint64_t readSoFar = 0;
    pipe.Start(cipher.bufferSize, cipher.buffer, kDecryptOutOfMemory,
               [&cipher, &pipe, &container, &readSoFar](StagePiece* piece) {
                   return ReadPiece(cipher, container, &readSoFar, pipe.CallerShare(), piece);
               });
    for (;;) {
        if (plat::InterruptRequested())
            return DecryptResult::Cancelled;
        StagePiece* piece = pipe.Take();
        if (!piece)
            return DecryptResult::Cancelled;
        piece->RestoreLastError();
        switch (piece->outcome) {
        case PieceOutcome::Data:
            break;
        case PieceOutcome::BadData:
            return DecryptResult::BadData;
        case PieceOutcome::Stopped:
            return DecryptResult::Cancelled;
        case PieceOutcome::Failed:
            RecordError(piece->code);
            return DecryptResult::Failed;
        }
        if (piece->head < piece->count &&
            !CryptDecryptTail(cipher.context.key, piece->tailChain, piece->data + piece->head,
                              piece->count - piece->head)) {
            RecordError(kDecryptFailed);
            return DecryptResult::Failed;
        }
        const DecryptResult inflated = InflateAndWrite(stream, piece->data, piece->count);
        if (inflated != DecryptResult::Ok)
            return inflated;
        plat::ReportProgress(piece->done, containerSize);
        if (piece->final)
            return StreamComplete(stream);
        pipe.Give(piece);
    }
}

} // namespace

ContainerSource FileContainerSource(int container, uint64_t containerSize) {
    return [container, containerSize, readSoFar = uint64_t{0}](
               uint8_t* data, uint32_t size, uint32_t* count, bool* final) mutable {
        if (!plat::ReadFile(container, data, size, count))
            return false;
        readSoFar += *count;
        *final = *count < size || readSoFar == containerSize;
        return true;
    };
}

DecryptResult RunDecryptChunks(const ChunkCipher& cipher, const ContainerSource& container,
                               uint64_t containerSize, CompressionStream* stream) {
    return ContainEscapes(DecryptResult::Failed, kDecryptOutOfMemory,
                          [&] { return DecryptChunks(cipher, container, containerSize, stream); });
}

namespace {

// The chunks of a container file into the plain file's temporary file.
DecryptResult RunChunks(const ChunkCipher& cipher, int container, CompressionStream* stream) {
    uint64_t containerSize = 0;
    plat::GetFileSize(container, &containerSize);
    return RunDecryptChunks(cipher, FileContainerSource(container, containerSize), containerSize,
                            stream);
}

// Opens the container and starts the plain file under its temporary name,
// asking before an existing plain file would be replaced, then runs the chunks.
DecryptResult RunOnFiles(plat::WindowHandle window, const QString& containerPath,
                         const QString& plainPath, const ChunkCipher& cipher,
                         plat::UniqueFd* container, CompressionStream** stream) {
    *container =
        plat::CreateFile(containerPath, plat::Access::Read, plat::Disposition::OpenExisting);
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

// Puts the finished plain file in place, with the container's permissions,
// owner and access list, before the container goes.
bool CommitPlainFile(int container, CompressionStream* stream) {
    plat::FileState containerState;
    // A plain file it replaces is plain data too: it goes the way plain files go.
    stream->target.keepReplaced = true;
    if (!plat::GetFileState(container, &containerState) ||
        !plat::CommitReplacement(&stream->target, plat::CarriedMode(containerState.mode),
                                 &containerState, container)) {
        RecordError(kPlainWriteFailed);
        return false;
    }
    return true;
}

// Gives the plain file the container's times and, after a complete run, its
// name; a plain file that did not get its name goes. Returns the run's result.
DecryptResult FinishPlainFile(plat::WindowHandle window, int container, CompressionStream* stream,
                              DecryptResult result) {
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
        return result;
    }
    if (!stream->target.accessListKept)
        WarnAccessListNotKept(window, stream->target.path);
    DisposeReplacedPlainFile(window, &stream->target);
    return result;
}

// The container goes only while its name still holds the file that was
// decrypted: a newer one put in its place meanwhile is kept, and the user told.
void RemoveContainer(plat::WindowHandle window, const QString& containerPath, int container) {
    plat::FileState opened;
    if (!plat::GetFileState(container, &opened) || plat::IsReadOnlyHandle(container)) {
        // What cannot be deleted stays where it is, and says why.
        t_lastContainerRemoval = ContainerRemoval{false, plat::kErrorAccessDenied};
        return;
    }
    plat::TakenSource taken(containerPath, container, opened);
    switch (plat::TakeOffName(&taken)) {
    case plat::SourceProof::Proven:
        if (plat::DeleteTaken(&taken))
            return;
        t_lastContainerRemoval = ContainerRemoval{false, plat::GetLastError()};
        plat::PutBack(&taken);
        return;
    case plat::SourceProof::Failed:
    case plat::SourceProof::Changed:
        t_lastContainerRemoval = ContainerRemoval{false, plat::GetLastError()};
        return;
    case plat::SourceProof::Other:
        break;
    }
    QString text = QStringLiteral("\u201c%1\u201d was replaced by another file while it was "
                                  "being decrypted, so Keshlor kept that file and did not delete "
                                  "it.")
                       .arg(containerPath);
    if (!taken.aside.isEmpty())
        text += QLatin1Char('\n') + KeptAsideDetail(taken.aside);
    plat::MessageBox(window, text, QStringLiteral("Can't delete!"),
                     plat::kMbOk | plat::kMbIconExclamation);
    t_lastContainerRemoval = ContainerRemoval{false, plat::kErrorFileInvalid, true};
}

} // namespace

DecryptResult DecryptContainerToFile(plat::WindowHandle window, const QString& containerPath,
                                     const QString& plainPath, const QString& password,
                                     SourceAfterRun source) {
    if (plat::InterruptRequested())
        return DecryptResult::Cancelled;
    ForgetLastDisposeOutcome();
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
    // The descriptor the container was read through stays open until it is
    // gone, so that what is removed is proven to be what was decrypted.
    if (container.valid() && result == DecryptResult::Ok) {
        t_lastContainerRemoval = ContainerRemoval{};
        if (source == SourceAfterRun::Remove)
            RemoveContainer(window, containerPath, container.get());
    }
    return result;
}

ContainerRemoval LastContainerRemoval() {
    return t_lastContainerRemoval;
}
