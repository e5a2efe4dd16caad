// The CryptoAPI-like layer and the key context: the provider semantics that
// containers of the original platform depend on.
#include "engine/crypto_api.h"
#include "engine/engine_faults.h"
#include "engine/key_context.h"
#include "platform/last_error.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

class Key {
  public:
    explicit Key(const QString& password, bool high) {
        step = OpenKeyContext(&context, password, high);
    }
    ~Key() { CloseKeyContext(&context); }
    KeyContext context;
    int step = -1;
};

QByteArray Encrypt(HCRYPTKEY key, QByteArray data, bool final) {
    uint32_t length = static_cast<uint32_t>(data.size());
    data.resize(data.size() + 8);
    if (!CryptEncrypt(key, nullptr, final, 0, reinterpret_cast<uint8_t*>(data.data()), &length,
                      static_cast<uint32_t>(data.size())))
        return QByteArray("failed");
    data.truncate(length);
    return data;
}

// `plain` (whole blocks) encrypted without padding under a key fresh off its password.
QByteArray EncryptedBlock(const QByteArray& plain) {
    Key key("secret", true);
    EXPECT_EQ(key.step, 0);
    return Encrypt(key.context.key, plain, false);
}

// Decrypts `data` as the last of a run under a fresh key; on success leaves the unpadded data.
bool DecryptFinalBlock(QByteArray* data) {
    Key key("secret", true);
    EXPECT_EQ(key.step, 0);
    uint32_t length = static_cast<uint32_t>(data->size());
    if (!CryptDecrypt(key.context.key, nullptr, true, 0, reinterpret_cast<uint8_t*>(data->data()),
                      &length))
        return false;
    data->truncate(length);
    return true;
}

TEST(CryptoApi, KeyContextReportsRc2BlockLengthInBits) {
    for (const bool high : {true, false}) {
        Key key("secret", high);
        ASSERT_EQ(key.step, 0);
        EXPECT_EQ(key.context.blockLength, 64u);
    }
}

TEST(CryptoApi, BaseKeyRefusesAnyEffectiveLengthButForty) {
    Key low("secret", false);
    ASSERT_EQ(low.step, 0);
    for (const uint32_t bits : {41u, 56u, 128u}) {
        EXPECT_FALSE(CryptSetKeyParam(low.context.key, KP_EFFECTIVE_KEYLEN,
                                      reinterpret_cast<const uint8_t*>(&bits), 0));
        EXPECT_EQ(plat::GetLastError(), NTE_BAD_DATA);
    }
    Key high("secret", true);
    const uint32_t bits = 40;
    EXPECT_TRUE(CryptSetKeyParam(high.context.key, KP_EFFECTIVE_KEYLEN,
                                 reinterpret_cast<const uint8_t*>(&bits), 0));
}

TEST(CryptoApi, FinalEncryptAlwaysPadsAndTheChainCarriesAcrossCalls) {
    Key key("secret", true);
    EXPECT_EQ(Encrypt(key.context.key, QByteArray(), true).size(), 8);
    EXPECT_EQ(Encrypt(key.context.key, QByteArray(8, 'a'), true).size(), 16);
    EXPECT_EQ(Encrypt(key.context.key, QByteArray(13, 'a'), true).size(), 16);

    const QByteArray data(4096 + 100, 'z');
    const QByteArray whole = Encrypt(key.context.key, data, true);
    QByteArray pieces = Encrypt(key.context.key, data.left(4096), false);
    pieces += Encrypt(key.context.key, data.mid(4096), true);
    EXPECT_EQ(whole, pieces);
    // A non-final piece must be whole blocks.
    EXPECT_EQ(Encrypt(key.context.key, QByteArray(12, 'a'), false), QByteArray("failed"));
    EXPECT_EQ(plat::GetLastError(), NTE_BAD_DATA);
}

// A piece decrypted in two parts, the second perhaps on another thread, must
// give the same bytes and leave the chain where one call leaves it, at every split.
TEST(CryptoApi, PieceSplitBetweenHeadAndTailDecryptsAsOneCall) {
    Key writer("secret", true);
    const QByteArray plain =
        QByteArray::fromRawData("0123456789abcdefghijklmnopqrstuv", 32).repeated(3);
    const QByteArray cipher = Encrypt(writer.context.key, plain, true);
    ASSERT_EQ(cipher.size(), 104);
    const uint32_t piece = 64;
    for (uint32_t head = 0; head <= piece; head += 8) {
        Key reader("secret", true);
        QByteArray data = cipher;
        auto* bytes = reinterpret_cast<uint8_t*>(data.data());
        uint8_t chain[8];
        ASSERT_TRUE(CryptDecryptHead(reader.context.key, bytes, piece, head, chain));
        ASSERT_TRUE(CryptDecryptTail(reader.context.key, chain, bytes + head, piece - head));
        uint32_t rest = static_cast<uint32_t>(data.size()) - piece;
        ASSERT_TRUE(CryptDecrypt(reader.context.key, nullptr, true, 0, bytes + piece, &rest));
        data.truncate(static_cast<int>(piece + rest));
        EXPECT_EQ(data, plain) << "split at " << head;
    }
    Key reader("secret", true);
    uint8_t chain[8];
    uint8_t odd[16] = {};
    EXPECT_FALSE(CryptDecryptHead(reader.context.key, odd, 16, 4, chain));
    EXPECT_EQ(plat::GetLastError(), NTE_BAD_DATA);
    EXPECT_FALSE(CryptDecryptTail(reader.context.key, chain, odd, 12));
    EXPECT_EQ(plat::GetLastError(), NTE_BAD_DATA);
}

TEST(CryptoApi, FinalEncryptNeedsRoomForThePadding) {
    Key key("secret", true);
    uint8_t buffer[16] = {};
    uint32_t length = 16;
    EXPECT_FALSE(CryptEncrypt(key.context.key, nullptr, true, 0, buffer, &length, 16));
    EXPECT_EQ(plat::GetLastError(), plat::kErrorMoreData);
    EXPECT_EQ(length, 24u);
}

TEST(CryptoApi, FinalDecryptChecksThePadding) {
    Key key("secret", true);
    const QByteArray plain("fourteen bytes");
    QByteArray cipher = Encrypt(key.context.key, plain, true);
    uint32_t length = static_cast<uint32_t>(cipher.size());
    ASSERT_TRUE(CryptDecrypt(key.context.key, nullptr, true, 0,
                             reinterpret_cast<uint8_t*>(cipher.data()), &length));
    EXPECT_EQ(cipher.left(length), plain);

    // Each block is encrypted unpadded under a fresh key and decrypted as the
    // last one under another, so the padding check sees exactly these bytes.
    QByteArray padded = EncryptedBlock(QByteArray("abcde\x03\x03\x03", 8));
    ASSERT_TRUE(DecryptFinalBlock(&padded));
    EXPECT_EQ(padded, QByteArray("abcde"));
    QByteArray allPad = EncryptedBlock(QByteArray(8, '\x08'));
    ASSERT_TRUE(DecryptFinalBlock(&allPad));
    EXPECT_TRUE(allPad.isEmpty());

    const QByteArray refused[] = {
        // Last bytes that are no pad length.
        QByteArray(8, '\x09'),
        QByteArray("abcdefg\0", 8),
        // A valid pad length, but pad bytes that disagree with it: the first
        // of them, one in the middle, and the first of a whole block of pad.
        QByteArray("abcde\x01\x03\x03", 8),
        QByteArray("abcd\x04\x04\x05\x04", 8),
        QByteArray("\x07\x08\x08\x08\x08\x08\x08\x08", 8),
    };
    for (const QByteArray& block : refused) {
        QByteArray bad = EncryptedBlock(block);
        plat::SetLastError(0);
        EXPECT_FALSE(DecryptFinalBlock(&bad)) << block.toHex().constData();
        EXPECT_EQ(plat::GetLastError(), NTE_BAD_DATA) << block.toHex().constData();
    }

    uint8_t none[8];
    length = 0;
    EXPECT_FALSE(CryptDecrypt(key.context.key, nullptr, true, 0, none, &length));
    EXPECT_EQ(plat::GetLastError(), NTE_BAD_LEN);
    length = 5;
    EXPECT_FALSE(CryptDecrypt(key.context.key, nullptr, true, 0, none, &length));
    EXPECT_EQ(plat::GetLastError(), NTE_BAD_DATA);
}

TEST(CryptoApi, KeysDependOnEveryCodeUnitOfThePasswordAndOnStrength) {
    const QByteArray block(16, 'k');
    auto cipher = [&](const QString& password, bool high) {
        Key key(password, high);
        EXPECT_EQ(key.step, 0);
        return Encrypt(key.context.key, block, true);
    };
    EXPECT_EQ(cipher("Secret", true), cipher("Secret", true)) << "nothing random enters a key";
    EXPECT_NE(cipher("Secret", true), cipher("secret", true));
    EXPECT_NE(cipher("Secret", true), cipher("Secret", false));
    EXPECT_NE(cipher("", true), cipher(" ", true));
    EXPECT_EQ(cipher("", false).size(), 24);
}

TEST(CryptoApi, PasswordsAreHashedAsLittleEndianUtf16WithoutTerminator) {
    // U+1F600 is the surrogate pair D83D DE00.
    const QString password = QString::fromUtf8("a\xF0\x9F\x98\x80");
    const uint8_t bytes[] = {'a', 0, 0x3D, 0xD8, 0x00, 0xDE};

    HCRYPTPROV provider = nullptr;
    HCRYPTHASH hash = nullptr;
    HCRYPTKEY direct = nullptr;
    ASSERT_TRUE(CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    ASSERT_TRUE(CryptCreateHash(provider, CALG_MD5, nullptr, 0, &hash));
    ASSERT_TRUE(CryptHashData(hash, bytes, sizeof bytes, 0));
    ASSERT_TRUE(CryptDeriveKey(provider, CALG_RC2, hash, CRYPT_CREATE_SALT, &direct));

    Key key(password, true);
    EXPECT_EQ(Encrypt(key.context.key, "block", true), Encrypt(direct, "block", true));
    CryptDestroyKey(direct);
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
}

TEST(CryptoApi, HashAndKeyObjectsAreZeroedBeforeTheirMemoryIsFreed) {
    std::map<const void*, bool> released; // object, and whether all its bytes were zero
    engine_faults::WatchSecretRelease([&](const void* memory, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(memory);
        released[memory] = std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
    });
    KeyContext context;
    ASSERT_EQ(OpenKeyContext(&context, "secret", true), 0);
    const void* hash = context.hash;
    const void* key = context.key;
    CloseKeyContext(&context);
    engine_faults::Clear();
    ASSERT_EQ(released.count(hash), 1u) << "the hash object was freed unseen";
    EXPECT_TRUE(released[hash]) << "the MD5 state outlived the hash object";
    ASSERT_EQ(released.count(key), 1u) << "the key object was freed unseen";
    EXPECT_TRUE(released[key]);
}

TEST(CryptoApi, MissingEnhancedProviderFailsTheFirstStepAndTheProbe) {
    EXPECT_TRUE(ProbeEnhancedProvider());
    SetEnhancedProviderAvailable(false);
    EXPECT_FALSE(ProbeEnhancedProvider());
    {
        Key high("secret", true);
        EXPECT_EQ(high.step, 1);
        EXPECT_EQ(plat::GetLastError(), NTE_KEYSET_NOT_DEF);
        EXPECT_EQ(high.context.provider, nullptr);
        Key low("secret", false);
        EXPECT_EQ(low.step, 0);
    }
    SetEnhancedProviderAvailable(true);
    EXPECT_TRUE(ProbeEnhancedProvider());
}

TEST(CryptoApi, RandomDataComesFromTheDefaultProvider) {
    HCRYPTPROV provider = nullptr;
    ASSERT_TRUE(
        CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    uint8_t a[4096] = {}, b[4096] = {};
    ASSERT_TRUE(CryptGenRandom(provider, sizeof a, a));
    ASSERT_TRUE(CryptGenRandom(provider, sizeof b, b));
    EXPECT_NE(QByteArray(reinterpret_cast<char*>(a), 4096),
              QByteArray(reinterpret_cast<char*>(b), 4096));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

} // namespace
