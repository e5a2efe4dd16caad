#include "compression_stream.h"

#include "engine_faults.h"
#include "error_report.h"
#include "last_error.h"
#include "ports.h"

#include <new>

namespace {

constexpr uint32_t kProtectedAttributes = 0x3155; // read-only, system, directory, ROM, temporary

CompressionStream* NewStream() {
    void* memory = EngineAllocate(sizeof(CompressionStream));
    return memory ? new (memory) CompressionStream : nullptr;
}

void FreeStream(CompressionStream* stream) {
    stream->~CompressionStream();
    EngineFree(stream, sizeof(CompressionStream));
}

PumpResult Deflate(CompressionStream* s, uint8_t* buffer, uint32_t length, uint32_t* count) {
    s->stream.next_out = buffer;
    s->stream.avail_out = length;
    if (length == 0) {
        *count = 0;
        return PumpResult::Ok;
    }
    do {
        if (!s->endOfInput && s->stream.avail_in == 0) {
            uint32_t got = 0;
            if (!plat::ReadFile(s->file, s->staging, kStagingSize, &got)) {
                *count = 0;
                RecordError(23);
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
            RecordError(24);
            return PumpResult::Failed;
        }
    } while (s->stream.avail_out != 0);
    *count = length - s->stream.avail_out;
    return PumpResult::Ok;
}

PumpResult Inflate(CompressionStream* s, uint8_t* buffer, uint32_t length, uint32_t* count) {
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
            RecordError(29);
            return PumpResult::Failed;
        }
        if (s->stream.avail_out < kStagingSize) {
            const uint32_t pending = kStagingSize - s->stream.avail_out;
            uint32_t written = 0;
            // A short write loses plain data just as a failed one does.
            if (!plat::WriteFile(s->file, s->staging, pending, &written) || written != pending) {
                *count = 0;
                RecordError(28);
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
        RecordError(7);
        return nullptr;
    }
    s->file = plat::CreateFile(plainPath, plat::Access::Read, plat::Disposition::OpenExisting);
    if (s->file == plat::kInvalidHandle) {
        FreeStream(s);
        RecordError(21);
        return nullptr;
    }
    s->mode = Compress;
    s->endOfInput = 0;
    const int level = IsOptionChecked(FastCompression) ? 1 : 9;
    if (deflateInit_(&s->stream, level, ZlibVersionForInit(), sizeof(z_stream)) != Z_OK) {
        plat::CloseHandle(s->file);
        FreeStream(s);
        RecordError(22);
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
        RecordError(25);
        return 0;
    }
    if (!CreateTargetFile(window,
                          QStringLiteral("Plain file already exists. Do you want to overwrite it?"),
                          plat::kAttrArchive, plainPath, &s->file)) {
        FreeStream(s);
        return 1;
    }
    if (s->file == plat::kInvalidHandle) {
        FreeStream(s);
        RecordError(26);
        return 0;
    }
    s->mode = Decompress;
    s->endOfInput = 0;
    if (inflateInit_(&s->stream, ZlibVersionForInit(), sizeof(z_stream)) != Z_OK) {
        plat::CloseHandle(s->file);
        // The target was created for this run and holds nothing: leave no empty file behind.
        plat::DeleteFile(plainPath);
        plat::SetLastError(plat::kErrorSuccess);
        FreeStream(s);
        RecordError(27);
        return 0;
    }
    s->stream.avail_in = 0;
    s->stream.avail_out = 0;
    *stream = s;
    return 0;
}

PumpResult PumpCompressionStream(CompressionStream* stream, uint8_t* buffer, uint32_t length,
                                 uint32_t* count) {
    switch (stream->mode) {
    case Compress:
        return Deflate(stream, buffer, length, count);
    case Decompress:
        return Inflate(stream, buffer, length, count);
    default:
        *count = 0;
        RecordError(30);
        return PumpResult::Failed;
    }
}

void CloseCompressionStream(CompressionStream* stream) {
    if (stream->mode == Compress)
        deflateEnd(&stream->stream);
    else if (stream->mode == Decompress)
        inflateEnd(&stream->stream);
    plat::CloseHandle(stream->file);
    FreeStream(stream);
}

bool CreateTargetFile(plat::WindowHandle window, const QString& prompt, uint32_t attributes,
                      const QString& path, plat::FileHandle* handle) {
    *handle = plat::kInvalidHandle;
    const uint32_t existing = plat::GetFileAttributes(path);
    if (existing == plat::kInvalidAttributes) {
        *handle =
            plat::CreateFile(path, plat::Access::Write, plat::Disposition::CreateNew, attributes);
        return true;
    }
    if (existing & kProtectedAttributes) {
        plat::MessageBox(window,
                         QStringLiteral("A file or directory already exists with the target file "
                                        "name. It cannot be overwritten. Rename one or other file "
                                        "or move it to a different folder."),
                         QStringLiteral("Can't overwrite!"), plat::kMbOk | plat::kMbIconHand);
        return false;
    }
    const int answer =
        plat::MessageBox(window, prompt, QStringLiteral("OK to overwrite?"),
                         plat::kMbYesNo | plat::kMbIconQuestion | plat::kMbDefButton2);
    if (answer != plat::kIdYes)
        return false;
    *handle = plat::CreateFile(path, plat::Access::Write, plat::Disposition::TruncateExisting,
                               attributes);
    return true;
}
