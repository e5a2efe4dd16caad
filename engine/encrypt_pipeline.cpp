#include "engine/encrypt_pipeline.h"

#include "engine/compression_stream.h"
#include "engine/error_report.h"
#include "engine/key_context.h"
#include "engine/wipe.h"
#include "platform/files.h"
#include "platform/interrupts.h"

namespace {

// Where a file system keeps no extended attributes, containers cannot be
// hidden; the user hears of it once, not for every file of a batch.
void WarnHidingUnavailable(plat::WindowHandle window, const QString& containerPath) {
    static bool warned = false;
    if (warned)
        return;
    warned = true;
    plat::MessageBox(window,
                     QStringLiteral("\u201c%1\u201d could not be hidden: its storage keeps no "
                                    "extended attributes, where Keshlor records the hidden mark, "
                                    "so containers written there stay visible.")
                         .arg(containerPath),
                     QStringLiteral("Can't hide!"), plat::kMbOk | plat::kMbIconExclamation);
}

// Moves the compressed stream through the cipher into the container, chunk by chunk.
EncryptResult RunChunks(const ChunkCipher& cipher, CompressionStream* stream,
                        plat::FileHandle container) {
    const uint32_t chunkSize = 64 * cipher.context.blockLength;
    uint64_t plainSize = 0;
    plat::GetFileSize(stream->source.get(), &plainSize);
    for (;;) {
        if (plat::InterruptRequested())
            return EncryptResult::Cancelled;
        uint32_t count = 0;
        if (PumpCompressionStream(stream, cipher.buffer, chunkSize, &count) != PumpResult::Ok)
            return EncryptResult::Failed;
        const bool final = count != chunkSize;
        if (!CryptEncrypt(cipher.context.key, nullptr, final, 0, cipher.buffer, &count,
                          cipher.bufferSize)) {
            RecordError(kEncryptFailed);
            return EncryptResult::Failed;
        }
        uint32_t written = 0;
        if (!plat::WriteFile(container, cipher.buffer, count, &written) || written != count) {
            RecordError(kContainerWriteFailed);
            return EncryptResult::Failed;
        }
        plat::ReportProgress(stream->stream.total_in, plainSize);
        if (final)
            return EncryptResult::Ok;
    }
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
    const EncryptResult result = RunChunks(cipher, *stream, container->file.get());
    plat::RestoreCursor(savedCursor);
    return result;
}

// Puts the finished container in place: only a container made from one
// version of the plain file, on the disk under its name, lets the plain file go.
bool CommitContainer(CompressionStream* stream, const QString& plainPath,
                     plat::Replacement* container) {
    if (!PlainFileUnchanged(stream, plainPath))
        return false;
    if (!plat::CommitReplacement(container, plat::CarriedMode(stream->opened.mode),
                                 &stream->opened)) {
        RecordError(kContainerWriteFailed);
        return false;
    }
    return true;
}

// Gives the container the plain file's times and, after a complete run, its
// name; a container that did not get its name goes. Returns the run's result.
EncryptResult FinishContainer(plat::WindowHandle window, CompressionStream* stream,
                              const QString& plainPath, const QString& containerPath,
                              plat::Replacement* container, EncryptResult result) {
    plat::FileTimes times;
    if (plat::GetFileTime(stream->source.get(), &times))
        plat::SetFileTime(container->file.get(), times);
    if (result == EncryptResult::Ok && !CommitContainer(stream, plainPath, container))
        result = EncryptResult::Failed;
    plat::DiscardReplacement(container); // nothing left to discard after a commit
    if (result == EncryptResult::Ok && !container->attributesStored)
        WarnHidingUnavailable(window, containerPath);
    return result;
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
    // 65 blocks: a chunk of 64 and room for the final call's padding.
    if (OpenChunkCipher(&cipher, password, 65, kEncryptProviderUnavailable, kEncryptOutOfMemory))
        result = RunOnFiles(window, plainPath, containerPath, cipher, &stream, &container);
    CloseChunkCipher(&cipher);

    if (container.file.valid())
        result = FinishContainer(window, stream, plainPath, containerPath, &container, result);
    if (stream) {
        CloseCompressionStream(stream);
        if (result == EncryptResult::Ok && source == SourceAfterRun::Remove)
            DisposePlainFile(window, plainPath);
    }
    return result;
}
