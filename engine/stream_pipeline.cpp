#include "engine/stream_pipeline.h"

#include "engine/chunk_loops.h"
#include "engine/compression_stream.h"
#include "engine/error_report.h"
#include "engine/key_context.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"
#include "platform/unique_fd.h"
#include "platform/write_all.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Container bytes read ahead of the cipher, so that a piece can be told to be
// the last one before its end has been read, as with a file of known size.
constexpr size_t kReadAhead = 64 * 1024;

bool Fail(int error) {
    plat::SetLastErrorFromErrno(error);
    errno = error;
    return false;
}

// Waits until `fd` has data or a stop request came. A regular file never waits.
bool WaitForInput(int fd, bool regular) {
    if (regular)
        return true;
    pollfd watched[2] = {{fd, POLLIN, 0}, {plat::InterruptNotifier(), POLLIN, 0}};
    for (;;) {
        if (plat::InterruptRequested())
            return Fail(EINTR);
        const int ready = poll(watched, watched[1].fd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Fail(errno);
        if (watched[0].revents != 0)
            return true;
    }
}

// A stream's container, read ahead so that its last piece is known as such.
class ReadAheadSource {
  public:
    explicit ReadAheadSource(InputPort input) : input_(std::move(input)), buffer_(kReadAhead) {}

    bool Read(uint8_t* data, uint32_t size, uint32_t* count, bool* final) {
        *count = 0;
        while (!ended_ && end_ - start_ <= size) {
            std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
            end_ -= start_;
            start_ = 0;
            uint32_t got = 0;
            const auto room = static_cast<uint32_t>(buffer_.size() - end_);
            if (!input_(buffer_.data() + end_, room, &got))
                return false;
            end_ += got;
            ended_ = got < room;
        }
        const size_t taken = std::min<size_t>(size, end_ - start_);
        std::memcpy(data, buffer_.data() + start_, taken);
        start_ += taken;
        *count = static_cast<uint32_t>(taken);
        *final = ended_ && start_ == end_;
        return true;
    }

  private:
    InputPort input_;
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
};

// A run that failed because a stop request ended a wait was stopped, not failed.
template <typename Result> Result StoppedOr(Result result, Result failed, Result cancelled) {
    if (result == failed && plat::InterruptRequested()) {
        plat::SetLastError(plat::kErrorSuccess);
        RecordError(kNoError);
        return cancelled;
    }
    return result;
}

EncryptResult EncryptOpenStream(CompressionStream* stream, const OutputPort& container,
                                const QString& password, uint64_t plainSize) {
    ChunkCipher cipher;
    EncryptResult result = EncryptResult::Failed;
    // 4,160 bytes: a chunk of 4,096 and room for the final call's padding.
    if (OpenChunkCipher(&cipher, password, 65, kEncryptProviderUnavailable, kEncryptOutOfMemory))
        result = RunEncryptChunks(cipher, stream, container, plainSize);
    CloseChunkCipher(&cipher);
    return StoppedOr(result, EncryptResult::Failed, EncryptResult::Cancelled);
}

DecryptResult DecryptSource(const ContainerSource& source, uint64_t containerSize,
                            const OutputPort& plain, const QString& password) {
    ChunkCipher cipher;
    DecryptResult result = DecryptResult::Failed;
    if (OpenChunkCipher(&cipher, password, 64, kDecryptProviderUnavailable, kDecryptOutOfMemory)) {
        CompressionStream* stream = CreateDecompressionStreamTo(
            plain ? plain : OutputPort([](const uint8_t*, uint32_t) { return true; }));
        if (stream) {
            result = RunDecryptChunks(cipher, source, containerSize, stream);
            CloseCompressionStream(stream);
        }
    }
    CloseChunkCipher(&cipher);
    return StoppedOr(result, DecryptResult::Failed, DecryptResult::Cancelled);
}

} // namespace

OutputPort DescriptorOutput(int fd) {
    plat::WriteOptions options;
    options.stopOnInterrupt = true;
    return [fd, options](const uint8_t* data, uint32_t size) {
        return plat::WriteAll(fd, data, size, options) || Fail(errno);
    };
}

InputPort DescriptorInput(int fd) {
    struct stat status;
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    return [fd, regular](uint8_t* buffer, uint32_t size, uint32_t* count) {
        *count = 0;
        while (*count < size) {
            if (!WaitForInput(fd, regular))
                return false;
            const ssize_t got = ::read(fd, buffer + *count, size - *count);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return Fail(errno);
            if (got == 0)
                break;
            *count += static_cast<uint32_t>(got);
        }
        return true;
    };
}

EncryptResult EncryptStream(const InputPort& plain, const OutputPort& container,
                            const QString& password) {
    if (plat::InterruptRequested())
        return EncryptResult::Cancelled;
    CompressionStream* stream = OpenCompressionStreamOn(plain);
    if (!stream)
        return EncryptResult::Failed;
    const EncryptResult result = EncryptOpenStream(stream, container, password, 0);
    CloseCompressionStream(stream);
    return result;
}

EncryptResult EncryptFileToStream(const QString& plainPath, const OutputPort& container,
                                  const QString& password) {
    if (plat::InterruptRequested())
        return EncryptResult::Cancelled;
    CompressionStream* stream = OpenCompressionStream(plainPath);
    if (!stream)
        return EncryptResult::Failed;
    uint64_t plainSize = 0;
    plat::GetFileSize(stream->source.get(), &plainSize);
    EncryptResult result = EncryptOpenStream(stream, container, password, plainSize);
    if (result == EncryptResult::Ok && !PlainFileUnchanged(stream, plainPath))
        result = EncryptResult::Failed;
    CloseCompressionStream(stream);
    return result;
}

DecryptResult DecryptStream(const InputPort& container, const OutputPort& plain,
                            const QString& password) {
    if (plat::InterruptRequested())
        return DecryptResult::Cancelled;
    // Shared with the stage thread's reads through the source, which outlives neither.
    const auto reader = std::make_shared<ReadAheadSource>(container);
    return DecryptSource([reader](uint8_t* data, uint32_t size, uint32_t* count,
                                  bool* final) { return reader->Read(data, size, count, final); },
                         0, plain, password);
}

DecryptResult DecryptFileToStream(const QString& containerPath, const OutputPort& plain,
                                  const QString& password) {
    if (plat::InterruptRequested())
        return DecryptResult::Cancelled;
    const plat::UniqueFd container(
        plat::CreateFile(containerPath, plat::Access::Read, plat::Disposition::OpenExisting));
    if (!container.valid()) {
        RecordError(kContainerOpenFailed);
        return DecryptResult::Failed;
    }
    uint64_t containerSize = 0;
    plat::GetFileSize(container.get(), &containerSize);
    return DecryptSource(FileContainerSource(container.get(), containerSize), containerSize, plain,
                         password);
}
