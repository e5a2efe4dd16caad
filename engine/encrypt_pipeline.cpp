#include "engine/encrypt_pipeline.h"

#include "engine/chunk_loops.h"
#include "engine/compression_stream.h"
#include "engine/engine_faults.h"
#include "engine/error_report.h"
#include "engine/key_context.h"
#include "engine/stage_pipe.h"
#include "engine/wipe.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/source_proof.h"

namespace {

bool g_hidingWarned = false;

// Where a file system keeps no extended attributes, containers cannot be
// hidden; the user hears of it once, not for every file of a batch.
void WarnHidingUnavailable(plat::WindowHandle window, const QString& containerPath) {
    if (g_hidingWarned)
        return;
    g_hidingWarned = true;
    plat::MessageBox(window,
                     QStringLiteral("\u201c%1\u201d could not be hidden: its storage keeps no "
                                    "extended attributes, where Keshlor records the hidden mark, "
                                    "so containers written there stay visible.")
                         .arg(containerPath),
                     QStringLiteral("Can't hide!"), plat::kMbOk | plat::kMbIconExclamation);
}

// Reads and deflates the next piece of the compressed stream: the filling stage.
bool DeflatePiece(CompressionStream* stream, uint32_t chunkSize, StagePiece* piece) {
    if (plat::InterruptRequested()) {
        piece->outcome = PieceOutcome::Stopped;
        return false;
    }
    int32_t failure = kNoError;
    if (PumpWithoutRecording(stream, piece->data, chunkSize, &piece->count, &failure) !=
        PumpResult::Ok) {
        piece->outcome = PieceOutcome::Failed;
        piece->code = failure;
        // Only a failed read says why; zlib's own failures carry no last error.
        if (failure == kPlainReadFailed)
            piece->KeepLastError();
        return false;
    }
    piece->final = piece->count != chunkSize;
    piece->done = stream->stream.total_in;
    return !piece->final;
}

// Encrypts one piece of the compressed stream and adds it to the container.
bool EncryptAndWrite(const ChunkCipher& cipher, StagePiece* piece, const ContainerSink& container) {
    uint32_t count = piece->count;
    if (!CryptEncrypt(cipher.context.key, nullptr, piece->final, 0, piece->data, &count,
                      cipher.bufferSize)) {
        RecordError(kEncryptFailed);
        return false;
    }
    if (!container(piece->data, count)) {
        RecordError(kContainerWriteFailed);
        return false;
    }
    return true;
}

EncryptResult EncryptChunks(const ChunkCipher& cipher, CompressionStream* stream,
                            const ContainerSink& container, uint64_t plainSize) {
    // 4,096 bytes, 512 cipher blocks: the key's block length is in bits.
    const uint32_t chunkSize = 64 * cipher.context.blockLength;
    // Reading and deflating fill the pieces, ahead of the cipher and the
    // container's writes while they have a thread of their own. Until the
    // pipe stops, the stream belongs to the filling stage alone.
    StagePipe pipe;
    pipe.Start(
        cipher.bufferSize, cipher.buffer, kEncryptOutOfMemory,
        [stream, chunkSize](StagePiece* piece) { return DeflatePiece(stream, chunkSize, piece); });
    for (;;) {
        if (plat::InterruptRequested())
            return EncryptResult::Cancelled;
        StagePiece* piece = pipe.Take();
        if (!piece || piece->outcome == PieceOutcome::Stopped)
            return EncryptResult::Cancelled;
        if (piece->outcome != PieceOutcome::Data) {
            piece->RestoreLastError();
            RecordError(piece->code);
            return EncryptResult::Failed;
        }
        if (!EncryptAndWrite(cipher, piece, container))
            return EncryptResult::Failed;
        plat::ReportProgress(piece->done, plainSize);
        if (piece->final)
            return EncryptResult::Ok;
        pipe.Give(piece);
    }
}

} // namespace

EncryptResult RunEncryptChunks(const ChunkCipher& cipher, CompressionStream* stream,
                               const ContainerSink& container, uint64_t plainSize) {
    return ContainEscapes(EncryptResult::Failed, kEncryptOutOfMemory,
                          [&] { return EncryptChunks(cipher, stream, container, plainSize); });
}

namespace {

// The chunks of a plain file into the container's temporary file.
EncryptResult RunChunks(const ChunkCipher& cipher, CompressionStream* stream,
                        plat::Replacement* container) {
    uint64_t plainSize = 0;
    plat::GetFileSize(stream->source.get(), &plainSize);
    return RunEncryptChunks(
        cipher, stream,
        [container](const uint8_t* data, uint32_t count) {
            uint32_t written = 0;
            return plat::WriteReplacement(container, data, count, &written) && written == count;
        },
        plainSize);
}

// Opens the plain file and starts the container under its temporary name,
// asking before an existing container would be replaced, then runs the chunks.
EncryptResult RunOnFiles(plat::WindowHandle window, const QString& plainPath,
                         const QString& containerPath, const ChunkCipher& cipher,
                         CompressionStream** stream, plat::Replacement* container) {
    *stream = OpenCompressionStream(plainPath);
    if (!*stream)
        return EncryptResult::Failed;
    const uint32_t attributes = IsOptionChecked(HideEncrypted)
                                    ? plat::kAttrArchive | plat::kAttrHidden
                                    : plat::kAttrArchive;
    if (!CreateTargetFile(
            window, QStringLiteral("Keshlor file already exists. Do you want to overwrite it?"),
            attributes, containerPath, plat::TemporaryKind::Container, container))
        return EncryptResult::Declined;
    if (!container->file.valid()) {
        RecordError(kContainerNotCreated);
        return EncryptResult::Failed;
    }
    const intptr_t savedCursor = plat::ShowWaitCursor();
    const EncryptResult result = RunChunks(cipher, *stream, container);
    plat::RestoreCursor(savedCursor);
    return result;
}

// Puts the finished container in place: only a container made from one
// version of the plain file, on the disk under its name, lets the plain file go.
bool CommitContainer(CompressionStream* stream, const QString& plainPath,
                     plat::Replacement* container, plat::FileState* committed) {
    if (!PlainFileUnchanged(stream, plainPath))
        return false;
    if (!plat::GetFileState(container->file.get(), committed) ||
        !plat::CommitReplacement(container, plat::CarriedMode(stream->opened.mode), &stream->opened,
                                 stream->source.get())) {
        RecordError(kContainerWriteFailed);
        return false;
    }
    return true;
}

// Gives the container the plain file's times and, after a complete run, its
// name; a container that did not get its name goes. Returns the run's result.
EncryptResult FinishContainer(plat::WindowHandle window, CompressionStream* stream,
                              const QString& plainPath, const QString& containerPath,
                              plat::Replacement* container, EncryptResult result,
                              plat::FileState* committed) {
    plat::FileTimes times;
    if (plat::GetFileTime(stream->source.get(), &times))
        plat::SetFileTime(container->file.get(), times);
    if (result == EncryptResult::Ok && !CommitContainer(stream, plainPath, container, committed))
        result = EncryptResult::Failed;
    plat::DiscardReplacement(container); // nothing left to discard after a commit
    if (result == EncryptResult::Ok && !container->attributesStored)
        WarnHidingUnavailable(window, containerPath);
    if (result == EncryptResult::Ok && !container->accessListKept)
        WarnAccessListNotKept(window, containerPath);
    return result;
}

// A plain file written to or replaced after it was read is kept, and so is
// nothing of the container made from the older version: the run fails as
// one whose file changed while it was read.
void WithdrawContainer(const QString& containerPath, const plat::FileState& committed,
                       const QString& plainPath, const QString& plainAside) {
    plat::TakenSource container(containerPath, -1, committed);
    if (plat::TakeOffName(&container) == plat::SourceProof::Proven &&
        !plat::DeleteTaken(&container))
        plat::PutBack(&container);
    RecordChangedPlainFile(plainPath);
    if (!plainAside.isEmpty())
        AddErrorDetail(KeptAsideDetail(plainAside));
}

} // namespace

EncryptResult EncryptFileToContainer(plat::WindowHandle window, const QString& plainPath,
                                     const QString& containerPath, const QString& password,
                                     SourceAfterRun source) {
    if (plat::InterruptRequested())
        return EncryptResult::Cancelled;
    EncryptResult result = EncryptResult::Failed;
    ChunkCipher cipher;
    CompressionStream* stream = nullptr;
    plat::Replacement container;
    plat::FileState committed;
    // 4,160 bytes: a chunk of 4,096 and room for the final call's padding.
    if (OpenChunkCipher(&cipher, password, 65, kEncryptProviderUnavailable, kEncryptOutOfMemory))
        result = RunOnFiles(window, plainPath, containerPath, cipher, &stream, &container);
    CloseChunkCipher(&cipher);

    if (container.file.valid())
        result = FinishContainer(window, stream, plainPath, containerPath, &container, result,
                                 &committed);
    if (!stream)
        return result;
    // The descriptor the plain file was read through stays open until it is
    // gone, so that what is removed is proven to be what was encrypted.
    if (result == EncryptResult::Ok && source == SourceAfterRun::Remove) {
        plat::TakenSource plain(plainPath, stream->source.get(), stream->opened, true);
        if (DisposeReadPlainFile(window, &plain) == DisposeOutcome::Changed) {
            WithdrawContainer(containerPath, committed, plainPath, plain.aside);
            result = EncryptResult::Failed;
        }
    }
    CloseCompressionStream(stream);
    return result;
}

void ResetOncePerProcessState() {
    ForgetOnceOnlyWarnings();
    ForgetLeftoverSearches();
}

void ForgetOnceOnlyWarnings() {
    g_hidingWarned = false;
    ForgetAccessListWarning();
}
