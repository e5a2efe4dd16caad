// Arbitrary bytes as a container for the decrypt pipeline, under a fixed
// password and both strengths, held to the checks of decrypt_check.h.
//
// A custom mutator lets libFuzzer work on what lies under the cipher: random
// changes to ciphertext scramble whole blocks and almost never pass zlib's
// header check, so most mutations decrypt, change the zlib stream or the plain
// data inside it, and encrypt again.
#include "decrypt_check.h"

#include "engine/crypto_api.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

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
    PrepareDecryptCheck();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckDecryption(data, size, true);
    CheckDecryption(data, size, false);
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
