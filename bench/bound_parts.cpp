#include "bound_parts.h"

#include "engine/crypto_api.h"
#include "engine/key_context.h"
#include "platform/unique_fd.h"
#include "platform/write_all.h"

#include <QFile>
#include <zlib.h>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace bench {

namespace {

constexpr uint32_t kChunk = 4096;
const QString kPassword = QStringLiteral("bench password");

// Closes the key context however the measurement ends.
struct ScopedKey {
    KeyContext context;
    bool open = false;
    explicit ScopedKey(bool high) { open = OpenKeyContext(&context, kPassword, high) == 0; }
    ~ScopedKey() { CloseKeyContext(&context); }
};

} // namespace

std::optional<Sample> TimeDeflate(const Bytes& plain, int level, Bytes* compressed) {
    z_stream z{};
    if (deflateInit(&z, level) != Z_OK)
        return std::nullopt;
    uint8_t out[kChunk];
    size_t offset = 0;
    bool ended = false;
    const Stopwatch watch;
    while (!ended) {
        z.next_out = out;
        z.avail_out = kChunk;
        while (z.avail_out != 0) {
            if (z.avail_in == 0 && offset < plain.size()) {
                const size_t take = std::min<size_t>(kChunk, plain.size() - offset);
                z.next_in = const_cast<Bytef*>(plain.data() + offset);
                z.avail_in = static_cast<uInt>(take);
                offset += take;
            }
            const int rc = deflate(&z, offset == plain.size() ? Z_FINISH : Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                ended = true;
                break;
            }
            if (rc != Z_OK) {
                deflateEnd(&z);
                return std::nullopt;
            }
        }
        if (compressed)
            compressed->insert(compressed->end(), out, out + (kChunk - z.avail_out));
    }
    const Sample sample = watch.Elapsed();
    deflateEnd(&z);
    return sample;
}

std::optional<Sample> TimeInflate(const Bytes& compressed, size_t plainSize) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    uint8_t staging[kChunk];
    size_t offset = 0;
    size_t produced = 0;
    int rc = Z_OK;
    const Stopwatch watch;
    while (rc != Z_STREAM_END && offset < compressed.size()) {
        const size_t take = std::min<size_t>(kChunk, compressed.size() - offset);
        z.next_in = const_cast<Bytef*>(compressed.data() + offset);
        z.avail_in = static_cast<uInt>(take);
        offset += take;
        // The pipeline's loop: inflate until this chunk's input is used up.
        do {
            z.next_out = staging;
            z.avail_out = kChunk;
            rc = inflate(&z, Z_SYNC_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) {
                inflateEnd(&z);
                return std::nullopt;
            }
            produced += kChunk - z.avail_out;
        } while (rc != Z_STREAM_END && z.avail_in != 0);
    }
    const Sample sample = watch.Elapsed();
    inflateEnd(&z);
    if (rc != Z_STREAM_END || produced != plainSize)
        return std::nullopt;
    return sample;
}

std::optional<Sample> TimeRc2Encrypt(const Bytes& compressed, bool high) {
    ScopedKey key(high);
    if (!key.open)
        return std::nullopt;
    // Room for the final call's padding; encrypted in place as the pipeline does.
    Bytes data(compressed.size() + 8);
    std::copy(compressed.begin(), compressed.end(), data.begin());
    const Stopwatch watch;
    for (size_t offset = 0;; offset += kChunk) {
        const auto count =
            static_cast<uint32_t>(std::min<size_t>(kChunk, compressed.size() - offset));
        const bool final = count != kChunk;
        uint32_t length = count;
        if (!CryptEncrypt(key.context.key, nullptr, final, 0, data.data() + offset, &length,
                          count + 8))
            return std::nullopt;
        if (final)
            break;
    }
    return watch.Elapsed();
}

std::optional<Sample> TimeRc2Decrypt(const Bytes& container, bool high) {
    ScopedKey key(high);
    if (!key.open || container.empty())
        return std::nullopt;
    Bytes data = container;
    const Stopwatch watch;
    for (size_t offset = 0; offset < data.size(); offset += kChunk) {
        uint32_t length = static_cast<uint32_t>(std::min<size_t>(kChunk, data.size() - offset));
        const bool final = offset + length == data.size();
        if (!CryptDecrypt(key.context.key, nullptr, final, 0, data.data() + offset, &length))
            return std::nullopt;
    }
    return watch.Elapsed();
}

std::optional<Sample> TimeWriteAndFlush(const QString& path, const Bytes& bytes) {
    const QByteArray native = QFile::encodeName(path);
    const Stopwatch watch;
    plat::UniqueFd file(::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!file.valid())
        return std::nullopt;
    bool ok = true;
    for (size_t offset = 0; ok && offset < bytes.size(); offset += kChunk)
        ok = plat::WriteAll(file.get(), bytes.data() + offset,
                            std::min<size_t>(kChunk, bytes.size() - offset));
    ok = ::fsync(file.get()) == 0 && ok;
    ok = file.close() && ok;
    const Sample sample = watch.Elapsed();
    ::unlink(native.constData());
    if (!ok)
        return std::nullopt;
    return sample;
}

} // namespace bench
