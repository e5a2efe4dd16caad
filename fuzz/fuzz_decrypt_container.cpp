// Arbitrary bytes as a container for the decrypt pipeline, under a fixed
// password and both strengths. Whatever the bytes, a run must not crash or
// hang, must leave no plain file unless it succeeded, must keep the container
// unless it succeeded, and must agree with a one-shot decryption and inflate
// of the same bytes: Ok exactly when that yields a complete zlib stream, and
// then the plain file holds exactly its output.
//
// A custom mutator lets libFuzzer work on what lies under the cipher: random
// changes to ciphertext scramble whole blocks and almost never pass zlib's
// header check, so most mutations decrypt, change the zlib stream or the plain
// data inside it, and encrypt again.
#include "engine/crypto_api.h"
#include "engine/decrypt_pipeline.h"
#include "engine/error_report.h"
#include "engine/key_context.h"
#include "platform/ports.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

using Bytes = std::vector<uint8_t>;

// The test vectors' password, so that their hello.txt containers decrypt.
const QString kPassword = QStringLiteral("password");
const QString kCaption = QStringLiteral("fuzz: pending error");
constexpr size_t kRc2Block = 8;

bool g_high = true;

[[noreturn]] void Fail(const char* what, bool high) {
    std::fprintf(stderr, "decrypt pipeline (%s): %s\n", high ? "high" : "low", what);
    std::abort();
}

struct Folder {
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/keshlor-fuzz-XXXXXX")};
    QString container = dir.filePath(QStringLiteral("input.ksr"));
    QString plain = dir.filePath(QStringLiteral("input"));
};

Folder& WorkFolder() {
    static Folder folder;
    return folder;
}

// Closes the key context however the caller leaves.
struct ScopedKey {
    KeyContext context;
    explicit ScopedKey(bool high) {
        if (OpenKeyContext(&context, kPassword, high) != 0)
            Fail("cannot open a key context", high);
    }
    ~ScopedKey() { CloseKeyContext(&context); }
};

Bytes ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    return Bytes(all.begin(), all.end());
}

void WriteFile(const QString& path, const uint8_t* data, size_t size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        Fail("cannot write the container", g_high);
}

// The whole of `data` through CryptDecrypt as one final call: the zlib stream,
// or false when the padding is wrong or there is nothing.
bool DecryptAll(const uint8_t* data, size_t size, bool high, Bytes* stream) {
    if (size == 0)
        return false;
    ScopedKey key(high);
    stream->assign(data, data + size);
    uint32_t length = static_cast<uint32_t>(size);
    if (!CryptDecrypt(key.context.key, nullptr, true, 0, stream->data(), &length))
        return false;
    stream->resize(length);
    return true;
}

// Inflates `stream` whole; true only when it ends properly. Bytes after the
// end are ignored, as the pipeline ignores them.
bool InflateAll(const Bytes& stream, Bytes* plain) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    uint8_t out[16384];
    int rc = Z_OK;
    plain->clear();
    while (rc == Z_OK) {
        z.next_out = out;
        z.avail_out = sizeof out;
        rc = inflate(&z, Z_NO_FLUSH);
        plain->insert(plain->end(), out, out + (sizeof out - z.avail_out));
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

void CheckOneStrength(const uint8_t* data, size_t size, bool high) {
    Folder& folder = WorkFolder();
    g_high = high;
    WriteFile(folder.container, data, size);
    QFile::remove(folder.plain);

    Bytes stream;
    Bytes expected;
    const bool expectOk = DecryptAll(data, size, high, &stream) && InflateAll(stream, &expected);

    const DecryptResult result =
        DecryptContainerToFile(nullptr, folder.container, folder.plain, kPassword);
    switch (result) {
    case DecryptResult::Ok:
        if (!expectOk)
            Fail("Ok for data a one-shot decryption rejects", high);
        if (QFile::exists(folder.container))
            Fail("Ok but the container is still there", high);
        if (ReadFile(folder.plain) != expected)
            Fail("Ok but the plain file differs from the one-shot result", high);
        QFile::remove(folder.plain);
        return;
    case DecryptResult::BadData:
    case DecryptResult::Failed:
        if (expectOk)
            Fail("rejected data that a one-shot decryption accepts", high);
        if (QFile::exists(folder.plain))
            Fail("a partial plain file was left behind", high);
        if (ReadFile(folder.container) != Bytes(data, data + size))
            Fail("the container was changed by a failed run", high);
        if (result == DecryptResult::Failed) {
            // Only a stream that asks for a preset dictionary fails rather than
            // being rejected; anything else here is a file-system error.
            if (CurrentPendingError().code != 29)
                Fail("Failed with a code other than 29", high);
            ReportError(nullptr, kCaption); // clears it
        } else if (CurrentPendingError().code != 0) {
            Fail("BadData with an error code pending", high);
        }
        return;
    case DecryptResult::Declined:
        Fail("Declined with no plain file in the way", high);
    }
    Fail("a result outside the enumeration", high);
}

// Deflates `plain` at `level` and encrypts it as a container of at most
// `maxSize` bytes; false when it would not fit.
bool MakeContainer(const Bytes& plain, int level, bool high, uint8_t* out, size_t maxSize,
                   size_t* outSize) {
    Bytes stream(compressBound(static_cast<uLong>(plain.size())) + kRc2Block);
    uLongf streamSize = static_cast<uLongf>(stream.size());
    if (compress2(stream.data(), &streamSize, plain.data(), static_cast<uLong>(plain.size()),
                  level) != Z_OK ||
        streamSize + kRc2Block > maxSize)
        return false;
    ScopedKey key(high);
    uint32_t length = static_cast<uint32_t>(streamSize);
    if (!CryptEncrypt(key.context.key, nullptr, true, 0, stream.data(), &length,
                      static_cast<uint32_t>(stream.size())))
        return false;
    std::memcpy(out, stream.data(), length);
    *outSize = length;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!WorkFolder().dir.isValid()) {
        std::fprintf(stderr, "cannot create a work folder in %s\n", qPrintable(QDir::tempPath()));
        std::abort();
    }
    plat::SetOptionPort([](uint16_t id) -> int {
        // Wiping a rejected plain file would only slow every run down.
        return id == HighEncryption ? g_high : 0;
    });
    plat::SetMessageBoxPort(
        [](plat::WindowHandle, const QString& text, const QString& caption, uint32_t style) {
            if (caption == kCaption)
                return plat::SafeAnswer(style);
            // Nothing is in the target's way, so no question or error should reach the user.
            std::fprintf(stderr, "unexpected message \"%s\": %s\n", qPrintable(caption),
                         qPrintable(text));
            std::abort();
        });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckOneStrength(data, size, true);
    CheckOneStrength(data, size, false);
    return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
    std::minstd_rand random(seed);
    const unsigned choice = random() % 8;
    const bool high = random() % 2 == 0;
    // Some of the time the ciphertext itself: lengths, padding, chunk ends.
    if (choice < 2 || size < kRc2Block || maxSize <= kRc2Block)
        return LLVMFuzzerMutate(data, size, maxSize);

    // What lies under the cipher: the zlib stream, padding removed when valid.
    Bytes stream(data, data + (size & ~(kRc2Block - 1)));
    {
        ScopedKey key(high);
        uint32_t length = static_cast<uint32_t>(stream.size());
        CryptDecrypt(key.context.key, nullptr, false, 0, stream.data(), &length);
        const uint8_t pad = stream.back();
        if (pad >= 1 && pad <= kRc2Block &&
            std::all_of(stream.end() - pad, stream.end(), [pad](uint8_t b) { return b == pad; }))
            stream.resize(stream.size() - pad);
    }

    Bytes plain;
    if (choice >= 5 && InflateAll(stream, &plain)) {
        // The plain data, deflated again: containers that decrypt, of new lengths.
        const size_t used = plain.size();
        const size_t capacity = std::max(used, maxSize);
        plain.resize(capacity);
        plain.resize(LLVMFuzzerMutate(plain.data(), used, capacity));
        size_t newSize = 0;
        const int level = static_cast<int>(random() % 10);
        if (MakeContainer(plain, level, high, data, maxSize, &newSize))
            return newSize;
        return LLVMFuzzerMutate(data, size, maxSize);
    }

    // The zlib stream itself, then encrypted with fresh padding.
    const size_t room = maxSize - kRc2Block;
    const size_t used = std::min(stream.size(), room);
    stream.resize(room + kRc2Block);
    uint32_t length = static_cast<uint32_t>(LLVMFuzzerMutate(stream.data(), used, room));
    ScopedKey key(high);
    if (!CryptEncrypt(key.context.key, nullptr, true, 0, stream.data(), &length,
                      static_cast<uint32_t>(stream.size())))
        return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, stream.data(), length);
    return length;
}
