#include "engine/key_context.h"

#include "engine/engine_faults.h"
#include "platform/last_error.h"
#include "platform/ports.h"

int OpenKeyContext(KeyContext* context, const QString& password, bool high) {
    *context = KeyContext{};
    const char16_t* providerName = high ? MS_ENHANCED_PROV : MS_DEF_PROV;
    if (!CryptAcquireContextW(&context->provider, nullptr, providerName, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT))
        return 1;
    if (!CryptCreateHash(context->provider, CALG_MD5, nullptr, 0, &context->hash))
        return 2;
    // UTF-16 code units in little-endian memory order, no terminator.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "password bytes are hashed as UTF-16LE");
    const auto* bytes = reinterpret_cast<const uint8_t*>(password.utf16());
    if (!CryptHashData(context->hash, bytes, static_cast<uint32_t>(2 * password.size()), 0))
        return 3;
    if (!CryptDeriveKey(context->provider, CALG_RC2, context->hash, CRYPT_CREATE_SALT,
                        &context->key))
        return 4;
    const uint32_t effectiveBits = high ? 128 : 40;
    if (!CryptSetKeyParam(context->key, KP_EFFECTIVE_KEYLEN,
                          reinterpret_cast<const uint8_t*>(&effectiveBits), 0))
        return 5;
    uint32_t size = sizeof context->blockLength;
    if (!CryptGetKeyParam(context->key, KP_BLOCKLEN,
                          reinterpret_cast<uint8_t*>(&context->blockLength), &size, 0))
        return 6;
    return 0;
}

void CloseKeyContext(KeyContext* context) {
    if (context->key)
        CryptDestroyKey(context->key);
    if (context->hash)
        CryptDestroyHash(context->hash);
    if (context->provider)
        CryptReleaseContext(context->provider, 0);
    *context = KeyContext{};
}

bool OpenChunkCipher(ChunkCipher* cipher, const QString& password, uint32_t multiple,
                     ErrorCode firstKeyStep, ErrorCode outOfMemory) {
    if (const int step =
            OpenKeyContext(&cipher->context, password, IsOptionChecked(HighEncryption))) {
        RecordError(firstKeyStep + step - 1);
        return false;
    }
    cipher->bufferSize = multiple * cipher->context.blockLength;
    cipher->buffer = static_cast<uint8_t*>(EngineAllocate(cipher->bufferSize));
    if (!cipher->buffer) {
        plat::SetLastError(plat::kErrorNotEnoughMemory);
        RecordError(outOfMemory);
        return false;
    }
    return true;
}

void CloseChunkCipher(ChunkCipher* cipher) {
    EngineFree(cipher->buffer, cipher->bufferSize);
    CloseKeyContext(&cipher->context);
    cipher->buffer = nullptr;
    cipher->bufferSize = 0;
}

bool ProbeEnhancedProvider() {
    HCRYPTPROV provider = nullptr;
    if (!CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT))
        return false;
    CryptReleaseContext(provider, 0);
    return true;
}
