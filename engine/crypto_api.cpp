#include "engine/crypto_api.h"

#include "engine/engine_faults.h"
#include "platform/files.h"
#include "platform/last_error.h"

#include <nettle/arctwo.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

using plat::SetLastError;

struct CryptProvider {
    bool enhanced = false;
};

struct CryptHash {
    md5_ctx md5;
    bool finished = false;
    uint8_t value[MD5_DIGEST_SIZE] = {};
};

struct CryptKey {
    bool enhanced = false;
    uint8_t material[MD5_DIGEST_SIZE] = {}; // key bytes followed by salt bytes
    uint32_t materialLength = 0;
    uint32_t effectiveBits = 0;
    arctwo_ctx schedule;
    uint8_t iv[ARCTWO_BLOCK_SIZE] = {};
};

namespace {

constexpr uint32_t kBlockBytes = ARCTWO_BLOCK_SIZE;
std::atomic<bool> g_enhancedAvailable{true};

bool Fail(uint32_t code) {
    SetLastError(code);
    return false;
}

bool SameName(const char16_t* a, const char16_t* b) {
    return std::u16string_view(a) == std::u16string_view(b);
}

void ScheduleKey(CryptKey* key) {
    arctwo_set_key_ekb(&key->schedule, key->materialLength, key->material, key->effectiveBits);
}

// The chain starts again from the zero IV after every final call.
void ResetChain(CryptKey* key) {
    std::memset(key->iv, 0, sizeof key->iv);
}

void Rc2Encrypt(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
    arctwo_encrypt(static_cast<arctwo_ctx*>(const_cast<void*>(ctx)), length, dst, src);
}

void Rc2Decrypt(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
    arctwo_decrypt(static_cast<arctwo_ctx*>(const_cast<void*>(ctx)), length, dst, src);
}

} // namespace

void SetEnhancedProviderAvailable(bool available) {
    g_enhancedAvailable = available;
}

bool CryptAcquireContextW(HCRYPTPROV* provider, const char16_t* containerName,
                          const char16_t* providerName, uint32_t provType, uint32_t flags) {
    if (!provider)
        return Fail(plat::kErrorInvalidParameter);
    *provider = nullptr;
    if (provType != PROV_RSA_FULL)
        return Fail(NTE_BAD_TYPE);
    // Only ephemeral contexts exist here: no key containers are kept.
    if (containerName || flags != CRYPT_VERIFYCONTEXT)
        return Fail(NTE_BAD_FLAGS);
    bool enhanced = false;
    if (providerName && SameName(providerName, MS_ENHANCED_PROV)) {
        if (!g_enhancedAvailable)
            return Fail(NTE_KEYSET_NOT_DEF);
        enhanced = true;
    } else if (providerName && !SameName(providerName, MS_DEF_PROV)) {
        return Fail(NTE_KEYSET_NOT_DEF);
    }
    auto* created = new (std::nothrow) CryptProvider{enhanced};
    if (!created)
        return Fail(plat::kErrorNotEnoughMemory);
    *provider = created;
    return true;
}

bool CryptReleaseContext(HCRYPTPROV provider, uint32_t flags) {
    if (!provider)
        return Fail(NTE_BAD_UID);
    if (flags != 0)
        return Fail(NTE_BAD_FLAGS);
    delete provider;
    return true;
}

bool CryptCreateHash(HCRYPTPROV provider, uint32_t algId, HCRYPTKEY key, uint32_t flags,
                     HCRYPTHASH* hash) {
    if (!hash)
        return Fail(plat::kErrorInvalidParameter);
    *hash = nullptr;
    if (!provider)
        return Fail(NTE_BAD_UID);
    if (algId != CALG_MD5)
        return Fail(NTE_BAD_ALGID);
    if (key || flags != 0)
        return Fail(NTE_BAD_FLAGS);
    auto* created = new (std::nothrow) CryptHash;
    if (!created)
        return Fail(plat::kErrorNotEnoughMemory);
    md5_init(&created->md5);
    *hash = created;
    return true;
}

bool CryptHashData(HCRYPTHASH hash, const uint8_t* data, uint32_t length, uint32_t flags) {
    if (!hash)
        return Fail(NTE_BAD_HASH);
    if (flags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (hash->finished)
        return Fail(0x8009000Cu); // NTE_BAD_HASH_STATE
    if (length)
        md5_update(&hash->md5, length, data);
    return true;
}

bool CryptDestroyHash(HCRYPTHASH hash) {
    if (!hash)
        return Fail(NTE_BAD_HASH);
    // The MD5 state and the digest are as good as the password.
    EngineForget(hash, sizeof *hash);
    delete hash;
    return true;
}

bool CryptDeriveKey(HCRYPTPROV provider, uint32_t algId, HCRYPTHASH hash, uint32_t flags,
                    HCRYPTKEY* key) {
    if (!key)
        return Fail(plat::kErrorInvalidParameter);
    *key = nullptr;
    if (!provider)
        return Fail(NTE_BAD_UID);
    if (!hash)
        return Fail(NTE_BAD_HASH);
    if (algId != CALG_RC2)
        return Fail(NTE_BAD_ALGID);
    if (flags & ~(0xFFFF0000u | CRYPT_CREATE_SALT))
        return Fail(NTE_BAD_FLAGS);

    // RC2's default length: 128 bits in the Enhanced provider, 40 in the Base one.
    uint32_t keyBits = flags >> 16;
    if (keyBits == 0)
        keyBits = provider->enhanced ? 128 : 40;
    if (keyBits % 8 != 0 || keyBits < 40 || keyBits > 128)
        return Fail(NTE_BAD_FLAGS);
    const uint32_t keyBytes = keyBits / 8;

    if (!hash->finished) {
        md5_digest(&hash->md5, MD5_DIGEST_SIZE, hash->value);
        hash->finished = true;
    }

    auto* created = new (std::nothrow) CryptKey;
    if (!created)
        return Fail(plat::kErrorNotEnoughMemory);
    created->enhanced = provider->enhanced;
    // With CRYPT_CREATE_SALT the rest of the hash becomes the salt, and the
    // key schedule runs over key followed by salt.
    const uint32_t saltBytes = (flags & CRYPT_CREATE_SALT) ? MD5_DIGEST_SIZE - keyBytes : 0;
    created->materialLength = keyBytes + saltBytes;
    std::memcpy(created->material, hash->value, created->materialLength);
    created->effectiveBits = provider->enhanced ? 128 : 40;
    ScheduleKey(created);
    *key = created;
    return true;
}

bool CryptDestroyKey(HCRYPTKEY key) {
    if (!key)
        return Fail(NTE_BAD_KEY);
    // The schedule and material are the password's equivalent: leave nothing.
    EngineForget(key, sizeof *key);
    delete key;
    return true;
}

bool CryptSetKeyParam(HCRYPTKEY key, uint32_t param, const uint8_t* data, uint32_t flags) {
    if (!key)
        return Fail(NTE_BAD_KEY);
    if (flags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (param != KP_EFFECTIVE_KEYLEN)
        return Fail(NTE_BAD_TYPE);
    if (!data)
        return Fail(plat::kErrorInvalidParameter);
    uint32_t bits;
    std::memcpy(&bits, data, sizeof bits);
    // The Base provider knows only 40-bit RC2.
    if (bits < 1 || bits > 1024 || (!key->enhanced && bits != 40))
        return Fail(NTE_BAD_DATA);
    key->effectiveBits = bits;
    ScheduleKey(key);
    ResetChain(key);
    return true;
}

bool CryptGetKeyParam(HCRYPTKEY key, uint32_t param, uint8_t* data, uint32_t* dataLength,
                      uint32_t flags) {
    if (!key)
        return Fail(NTE_BAD_KEY);
    if (flags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (!dataLength)
        return Fail(plat::kErrorInvalidParameter);
    uint32_t value;
    switch (param) {
    case KP_BLOCKLEN:
        value = kBlockBytes * 8; // reported in bits
        break;
    case KP_EFFECTIVE_KEYLEN:
        value = key->effectiveBits;
        break;
    default:
        return Fail(NTE_BAD_TYPE);
    }
    if (!data) {
        *dataLength = sizeof value;
        return true;
    }
    if (*dataLength < sizeof value) {
        *dataLength = sizeof value;
        return Fail(plat::kErrorMoreData);
    }
    std::memcpy(data, &value, sizeof value);
    *dataLength = sizeof value;
    return true;
}

bool CryptEncrypt(HCRYPTKEY key, HCRYPTHASH hash, bool final, uint32_t flags, uint8_t* data,
                  uint32_t* length, uint32_t bufferLength) {
    if (!key)
        return Fail(NTE_BAD_KEY);
    if (hash || flags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (!length || (!data && *length))
        return Fail(plat::kErrorInvalidParameter);
    uint32_t total = *length;
    if (final) {
        const uint32_t pad = kBlockBytes - total % kBlockBytes;
        if (total + pad > bufferLength) {
            *length = total + pad;
            return Fail(plat::kErrorMoreData);
        }
        std::memset(data + total, static_cast<int>(pad), pad);
        total += pad;
    } else if (total % kBlockBytes != 0) {
        return Fail(NTE_BAD_DATA);
    }
    if (total)
        cbc_encrypt(&key->schedule, Rc2Encrypt, kBlockBytes, key->iv, total, data, data);
    if (final)
        ResetChain(key);
    *length = total;
    return true;
}

bool CryptDecrypt(HCRYPTKEY key, HCRYPTHASH hash, bool final, uint32_t flags, uint8_t* data,
                  uint32_t* length) {
    if (!key)
        return Fail(NTE_BAD_KEY);
    if (hash || flags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (!length || (!data && *length))
        return Fail(plat::kErrorInvalidParameter);
    const uint32_t total = *length;
    if (final && total == 0)
        return Fail(NTE_BAD_LEN);
    if (total % kBlockBytes != 0)
        return Fail(NTE_BAD_DATA);
    cbc_decrypt(&key->schedule, Rc2Decrypt, kBlockBytes, key->iv, total, data, data);
    if (!final)
        return true;
    ResetChain(key);
    const uint8_t pad = data[total - 1];
    if (pad < 1 || pad > kBlockBytes)
        return Fail(NTE_BAD_DATA);
    for (uint32_t i = total - pad; i < total; ++i) {
        if (data[i] != pad)
            return Fail(NTE_BAD_DATA);
    }
    *length = total - pad;
    return true;
}

bool CryptDecryptHead(HCRYPTKEY key, uint8_t* data, uint32_t length, uint32_t head,
                      uint8_t tailChain[8]) {
    if (!key)
        return Fail(NTE_BAD_KEY);
    if (!tailChain || (!data && length) || head > length)
        return Fail(plat::kErrorInvalidParameter);
    if (length % kBlockBytes != 0 || head % kBlockBytes != 0)
        return Fail(NTE_BAD_DATA);
    if (length == 0)
        return true;
    uint8_t lastBlock[kBlockBytes];
    std::memcpy(lastBlock, data + length - kBlockBytes, kBlockBytes);
    if (head != 0) {
        std::memcpy(tailChain, data + head - kBlockBytes, kBlockBytes);
        cbc_decrypt(&key->schedule, Rc2Decrypt, kBlockBytes, key->iv, head, data, data);
    } else {
        std::memcpy(tailChain, key->iv, kBlockBytes);
    }
    std::memcpy(key->iv, lastBlock, kBlockBytes);
    return true;
}

bool CryptDecryptTail(HCRYPTKEY key, const uint8_t chain[8], uint8_t* data, uint32_t length) {
    if (!key)
        return Fail(NTE_BAD_KEY);
    if (!chain || (!data && length))
        return Fail(plat::kErrorInvalidParameter);
    if (length % kBlockBytes != 0)
        return Fail(NTE_BAD_DATA);
    uint8_t iv[kBlockBytes];
    std::memcpy(iv, chain, kBlockBytes);
    if (length != 0)
        cbc_decrypt(&key->schedule, Rc2Decrypt, kBlockBytes, iv, length, data, data);
    return true;
}

bool CryptGenRandom(HCRYPTPROV provider, uint32_t length, uint8_t* buffer) {
    if (!provider)
        return Fail(NTE_BAD_UID);
    if (!buffer && length)
        return Fail(plat::kErrorInvalidParameter);
    if (!plat::GenerateRandom(buffer, length))
        return Fail(NTE_FAIL);
    return true;
}
