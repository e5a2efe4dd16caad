#include "engine/compression_stream.h"

#include "engine/engine_faults.h"
#include "engine/error_report.h"
#include "engine/wipe.h"
#include "platform/last_error.h"
#include "platform/ports.h"

#include <QFileInfo>

#include <new>
#include <utility>

namespace {

CompressionStream* NewStream() {
    void* memory = EngineAllocate(sizeof(CompressionStream));
    return memory ? new (memory) CompressionStream : nullptr;
}

void FreeStream(CompressionStream* stream) {
    stream->~CompressionStream();
    EngineFree(stream, sizeof(CompressionStream));
}

PumpResult Deflate(CompressionStream* s, uint8_t* buffer, uint32_t length, uint32_t* count,
                   int32_t* failure) {
    s->stream.next_out = buffer;
    s->stream.avail_out = length;
    if (length == 0) {
        *count = 0;
        return PumpResult::Ok;
    }
    do {
        if (!s->endOfInput && s->stream.avail_in == 0) {
            uint32_t got = 0;
            const bool read = s->input
                                  ? s->input(s->staging, kStagingSize, &got)
                                  : plat::ReadFile(s->source.get(), s->staging, kStagingSize, &got);
            if (!read) {
                *count = 0;
                *failure = kPlainReadFailed;
                return PumpResult::Failed;
            }
            s->stream.next_in = s->staging;
            s->stream.avail_in = got;
            if (got < kStagingSize)
                s->endOfInput = 1;
        }
        const int rc = deflate(&s->stream, s->endOfInput ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            s->streamEnded = true;
            break;
        }
        if (rc != Z_OK) {
            *count = 0;
            *failure = kDeflateFailed;
            return PumpResult::Failed;
        }
    } while (s->stream.avail_out != 0);
    *count = length - s->stream.avail_out;
    return PumpResult::Ok;
}

PumpResult Inflate(CompressionStream* s, uint8_t* buffer, uint32_t length, uint32_t* count,
                   int32_t* failure) {
    s->stream.next_in = buffer;
    s->stream.avail_in = length;
    s->stream.next_out = s->staging;
    s->stream.avail_out = kStagingSize;
    if (length == 0) {
        *count = 0;
        return PumpResult::Ok;
    }
    do {
        const int rc = inflate(&s->stream, Z_SYNC_FLUSH);
        if (rc == Z_DATA_ERROR) {
            *count = 0;
            return PumpResult::BadData;
        }
        if (rc < 0 || rc > Z_STREAM_END) {
            *count = 0;
            *failure = kInflateFailed;
            return PumpResult::Failed;
        }
        if (s->stream.avail_out < kStagingSize) {
            const uint32_t pending = kStagingSize - s->stream.avail_out;
            uint32_t written = 0;
            // A short write loses plain data just as a failed one does.
            const bool taken =
                s->output ? s->output(s->staging, pending)
                          : plat::WriteReplacement(&s->target, s->staging, pending, &written) &&
                                written == pending;
            if (!taken) {
                *count = 0;
                *failure = kPlainWriteFailed;
                return PumpResult::Failed;
            }
            s->stream.next_out = s->staging;
            s->stream.avail_out = kStagingSize;
        }
        if (rc == Z_STREAM_END) {
            s->streamEnded = true;
            break; // whatever follows the stream is not fed to inflate
        }
    } while (s->stream.avail_in != 0);
    *count = length;
    return PumpResult::Ok;
}

} // namespace

CompressionStream* OpenCompressionStream(const QString& plainPath) {
    CompressionStream* s = NewStream();
    if (!s) {
        plat::SetLastError(plat::kErrorNotEnoughMemory);
        RecordError(kEncryptOutOfMemory);
        return nullptr;
    }
    s->source = plat::CreateFile(plainPath, plat::Access::Read, plat::Disposition::OpenExisting);
    if (s->source.valid() && plat::GetFileState(s->source.get(), &s->opened) &&
        s->opened.links > 1) {
        s->source.reset();
        plat::SetLastErrorWithDetail(
            plat::kErrorTooManyLinks,
            QStringLiteral("\u201c%1\u201d has other names (hard links), which would keep its "
                           "data after it is encrypted and removed, so Keshlor leaves it as it is.")
                .arg(plainPath));
    }
    if (!s->source.valid()) {
        FreeStream(s);
        RecordError(kPlainOpenFailed);
        return nullptr;
    }
    s->mode = Compress;
    s->endOfInput = 0;
    const int level = IsOptionChecked(FastCompression) ? 1 : 9;
    if (deflateInit_(&s->stream, level, ZlibVersionForInit(), sizeof(z_stream)) != Z_OK) {
        FreeStream(s);
        RecordError(kDeflateStartFailed);
        return nullptr;
    }
    s->stream.avail_in = 0;
    s->stream.avail_out = 0;
    return s;
}

int CreateDecompressionStream(plat::WindowHandle window, const QString& plainPath,
                              CompressionStream** stream) {
    *stream = nullptr;
    CompressionStream* s = NewStream();
    if (!s) {
        plat::SetLastError(plat::kErrorNotEnoughMemory);
        RecordError(kInflateOutOfMemory);
        return 0;
    }
    if (!CreateTargetFile(window,
                          QStringLiteral("Plain file already exists. Do you want to overwrite it?"),
                          plat::kAttrArchive, plainPath, plat::TemporaryKind::Plain, &s->target)) {
        FreeStream(s);
        return 1;
    }
    if (!s->target.file.valid()) {
        FreeStream(s);
        RecordError(kPlainNotCreated);
        return 0;
    }
    s->mode = Decompress;
    s->endOfInput = 0;
    if (inflateInit_(&s->stream, ZlibVersionForInit(), sizeof(z_stream)) != Z_OK) {
        // The new file holds nothing yet: it simply goes.
        plat::DiscardReplacement(&s->target);
        plat::SetLastError(plat::kErrorSuccess);
        FreeStream(s);
        RecordError(kInflateStartFailed);
        return 0;
    }
    s->stream.avail_in = 0;
    s->stream.avail_out = 0;
    *stream = s;
    return 0;
}

PumpResult PumpCompressionStream(CompressionStream* stream, uint8_t* buffer, uint32_t length,
                                 uint32_t* count) {
    int32_t failure = kNoError;
    const PumpResult result = PumpWithoutRecording(stream, buffer, length, count, &failure);
    if (result == PumpResult::Failed)
        RecordError(failure);
    return result;
}

PumpResult PumpWithoutRecording(CompressionStream* stream, uint8_t* buffer, uint32_t length,
                                uint32_t* count, int32_t* failure) {
    switch (stream->mode) {
    case Compress:
        return Deflate(stream, buffer, length, count, failure);
    case Decompress:
        return Inflate(stream, buffer, length, count, failure);
    default:
        *count = 0;
        *failure = kStreamModeUnknown;
        return PumpResult::Failed;
    }
}

bool PlainFileUnchanged(const CompressionStream* stream, const QString& plainPath) {
    // What the name holds now: a file saved by renaming a new one over it is another file.
    plat::FileState now;
    if (plat::GetNamedFileState(plainPath, &now) && !plat::FileChanged(stream->opened, now))
        return true;
    RecordChangedPlainFile(plainPath);
    return false;
}

void RecordChangedPlainFile(const QString& plainPath) {
    plat::SetLastErrorWithDetail(
        plat::kErrorFileInvalid,
        QStringLiteral("\u201c%1\u201d changed while it was being encrypted, so it was kept as it "
                       "is and no container was made. Try again when no program is writing to it.")
            .arg(plainPath));
    RecordError(kPlainReadFailed);
}

void CloseCompressionStream(CompressionStream* stream) {
    if (stream->mode == Compress)
        deflateEnd(&stream->stream);
    else if (stream->mode == Decompress)
        inflateEnd(&stream->stream);
    // Closes the plain file; one written but not committed stays where it is for the caller.
    FreeStream(stream);
}

bool CreateTargetFile(plat::WindowHandle window, const QString& prompt, uint32_t attributes,
                      const QString& path, plat::TemporaryKind kind, plat::Replacement* target) {
    *target = plat::Replacement{};
    RemoveLeftovers(QFileInfo(path).absolutePath());
    const plat::FileKind what = plat::GetFileKind(path);
    if (what != plat::FileKind::Regular && what != plat::FileKind::Missing &&
        what != plat::FileKind::Folder) {
        plat::RefuseFileKind(what, path);
        return true;
    }
    const uint32_t existing = plat::GetFileAttributes(path);
    if (existing == plat::kInvalidAttributes) {
        plat::CreateReplacement(path, kind, attributes, false, target);
        return true;
    }
    if (existing & (plat::kProtectiveAttributes | plat::kAttrDirectory)) {
        QString text = QStringLiteral(
            "A file or directory already exists with the target file name. It cannot be "
            "overwritten. Rename one or other file or move it to a different folder.");
        if (what == plat::FileKind::Folder)
            text += QStringLiteral("\n\u201c%1\u201d is a folder.").arg(path);
        plat::MessageBox(window, text, QStringLiteral("Can't overwrite!"),
                         plat::kMbOk | plat::kMbIconHand);
        return false;
    }
    const int answer =
        plat::MessageBox(window, prompt, QStringLiteral("OK to overwrite?"),
                         plat::kMbYesNo | plat::kMbIconQuestion | plat::kMbDefButton2);
    if (answer != plat::kIdYes)
        return false;
    plat::CreateReplacement(path, kind, attributes, true, target);
    return true;
}

namespace {
bool g_accessListWarned = false;
} // namespace

void WarnAccessListNotKept(plat::WindowHandle window, const QString& path) {
    if (std::exchange(g_accessListWarned, true))
        return;
    plat::MessageBox(window,
                     QStringLiteral("\u201c%1\u201d could not keep the access list (ACL) of the "
                                    "file it was made from: its storage keeps none. So that it "
                                    "is no more open than that file, only its owner may read it.")
                         .arg(path),
                     QStringLiteral("Can't keep permissions!"),
                     plat::kMbOk | plat::kMbIconExclamation);
}

void ForgetAccessListWarning() {
    g_accessListWarned = false;
}

CompressionStream* OpenCompressionStreamOn(
    std::function<bool(uint8_t* buffer, uint32_t size, uint32_t* count)> input) {
    CompressionStream* s = NewStream();
    if (!s) {
        plat::SetLastError(plat::kErrorNotEnoughMemory);
        RecordError(kEncryptOutOfMemory);
        return nullptr;
    }
    s->input = std::move(input);
    s->mode = Compress;
    const int level = IsOptionChecked(FastCompression) ? 1 : 9;
    if (deflateInit_(&s->stream, level, ZlibVersionForInit(), sizeof(z_stream)) != Z_OK) {
        FreeStream(s);
        RecordError(kDeflateStartFailed);
        return nullptr;
    }
    return s;
}

CompressionStream*
CreateDecompressionStreamTo(std::function<bool(const uint8_t* data, uint32_t size)> output) {
    CompressionStream* s = NewStream();
    if (!s) {
        plat::SetLastError(plat::kErrorNotEnoughMemory);
        RecordError(kInflateOutOfMemory);
        return nullptr;
    }
    s->output = std::move(output);
    s->mode = Decompress;
    if (inflateInit_(&s->stream, ZlibVersionForInit(), sizeof(z_stream)) != Z_OK) {
        FreeStream(s);
        RecordError(kInflateStartFailed);
        return nullptr;
    }
    return s;
}
