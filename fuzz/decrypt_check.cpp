#include "decrypt_check.h"

#include "engine/crypto_api.h"
#include "engine/decrypt_pipeline.h"
#include "engine/error_report.h"
#include "platform/ports.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>

namespace {

// The test vectors' password, so that their hello.txt containers decrypt.
const QString kPassword = QStringLiteral("password");
const QString kCaption = QStringLiteral("fuzz: pending error");

bool g_high = true;

// zlib is not instrumented, so libFuzzer cannot see why inflate stopped or how
// far into the stream it got; one counter per reason and depth shows it, and
// an input that gets deeper or fails differently is kept.
constexpr size_t kReasons = 16;
constexpr size_t kDepths = 16;
__attribute__((used, section("__libfuzzer_extra_counters")))
uint8_t g_inflateCounters[kReasons * kDepths];

void CountInflateOutcome(const z_stream& z, int rc) {
    const std::string_view reason = z.msg ? z.msg : "";
    const size_t kind =
        (std::hash<std::string_view>{}(reason) + static_cast<size_t>(rc + 8)) % kReasons;
    const size_t depth = std::min<size_t>(std::bit_width(z.total_in), kDepths - 1);
    ++g_inflateCounters[kind * kDepths + depth];
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

} // namespace

void Fail(const char* what, bool high) {
    std::fprintf(stderr, "decrypt pipeline (%s): %s\n", high ? "high" : "low", what);
    std::abort();
}

ScopedKey::ScopedKey(bool high) {
    if (OpenKeyContext(&context, kPassword, high) != 0)
        Fail("cannot open a key context", high);
}

ScopedKey::~ScopedKey() {
    CloseKeyContext(&context);
}

void PrepareDecryptCheck() {
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
}

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
    CountInflateOutcome(z, rc);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

void CheckDecryption(const uint8_t* container, size_t size, bool high, const Bytes* knownStream) {
    Folder& folder = WorkFolder();
    g_high = high;
    WriteFile(folder.container, container, size);
    QFile::remove(folder.plain);

    Bytes stream;
    Bytes expected;
    const bool decrypted = DecryptAll(container, size, high, &stream);
    if (knownStream && (!decrypted || stream != *knownStream))
        Fail("a container made from a stream does not decrypt back to it", high);
    const bool expectOk = decrypted && InflateAll(stream, &expected);

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
        if (ReadFile(folder.container) != Bytes(container, container + size))
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
    case DecryptResult::Cancelled:
        Fail("Cancelled with no interrupt requested", high);
    }
    Fail("a result outside the enumeration", high);
}
