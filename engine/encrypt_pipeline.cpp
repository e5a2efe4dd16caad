#include "engine/encrypt_pipeline.h"

#include "engine/compression_stream.h"
#include "engine/engine_faults.h"
#include "engine/error_report.h"
#include "engine/key_context.h"
#include "engine/wipe.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"

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
EncryptResult MoveData(const KeyContext& context, CompressionStream* stream,
                       plat::FileHandle container, uint8_t* buffer, uint32_t bufferSize) {
    const uint32_t chunkSize = 64 * context.blockLength;
    uint64_t plainSize = 0;
    plat::GetFileSize(stream->file, &plainSize);
    for (;;) {
        if (plat::InterruptRequested())
            return EncryptResult::Cancelled;
        uint32_t count = 0;
        if (PumpCompressionStream(stream, buffer, chunkSize, &count) != PumpResult::Ok)
            return EncryptResult::Failed;
        const bool final = count != chunkSize;
        if (!CryptEncrypt(context.key, nullptr, final, 0, buffer, &count, bufferSize)) {
            RecordError(9);
            return EncryptResult::Failed;
        }
        uint32_t written = 0;
        if (!plat::WriteFile(container, buffer, count, &written) || written != count) {
            RecordError(10);
            return EncryptResult::Failed;
        }
        plat::ReportProgress(stream->stream.total_in, plainSize);
        if (final)
            return EncryptResult::Ok;
    }
}

// Puts the finished container in place: only a container made from one
// version of the plain file, on the disk under its name, lets the plain file go.
bool CommitContainer(CompressionStream* stream, const QString& plainPath,
                     plat::Replacement* container) {
    if (!PlainFileUnchanged(stream, plainPath))
        return false;
    if (!plat::CommitReplacement(container, plat::CarriedMode(stream->opened.mode),
                                 &stream->opened)) {
        RecordError(10);
        return false;
    }
    return true;
}

} // namespace

EncryptResult EncryptFileToContainer(plat::WindowHandle window, const QString& plainPath,
                                     const QString& containerPath, const QString& password,
                                     SourceAfterRun source) {
    if (plat::InterruptRequested())
        return EncryptResult::Cancelled;
    EncryptResult result = EncryptResult::Failed;
    KeyContext context;
    uint8_t* buffer = nullptr;
    uint32_t bufferSize = 0;
    CompressionStream* stream = nullptr;
    plat::Replacement container;
    bool haveContainer = false;

    if (const int step = OpenKeyContext(&context, password, IsOptionChecked(HighEncryption))) {
        RecordError(step);
    } else {
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
                attributes, containerPath, plat::TemporaryKind::Container, &container);
            if (!haveContainer) {
                result = EncryptResult::Declined;
            } else if (container.file == plat::kInvalidHandle) {
                RecordError(8);
            } else {
                const intptr_t savedCursor = plat::ShowWaitCursor();
                result = MoveData(context, stream, container.file, buffer, bufferSize);
                plat::RestoreCursor(savedCursor);
            }
        }
    }

    EngineFree(buffer, bufferSize);
    CloseKeyContext(&context);

    if (haveContainer && container.file != plat::kInvalidHandle) {
        plat::FileTimes times;
        if (plat::GetFileTime(stream->file, &times))
            plat::SetFileTime(container.file, times);
        if (result == EncryptResult::Ok && !CommitContainer(stream, plainPath, &container))
            result = EncryptResult::Failed;
        plat::DiscardReplacement(&container); // nothing left to discard after a commit
        if (result == EncryptResult::Ok && !container.attributesStored)
            WarnHidingUnavailable(window, containerPath);
    }
    if (stream) {
        CloseCompressionStream(stream);
        if (result == EncryptResult::Ok && source == SourceAfterRun::Remove)
            DisposePlainFile(window, plainPath);
    }
    return result;
}
