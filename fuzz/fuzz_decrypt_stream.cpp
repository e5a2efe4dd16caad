// A zlib stream, encrypted here under the fixed password, as the container for
// the decrypt pipeline, held to the checks of decrypt_check.h. Random bytes
// almost never survive the padding check and zlib's header, so this target
// starts under the cipher: libFuzzer changes the stream itself and how the
// container ends, and so reaches inflate's errors, streams that end early or
// late, and containers that end on, just past or short of a piece.
//
// Input: a control byte, a parameter byte, then the stream.
//   control bit 0      high (1) or low (0) encryption
//   control >> 1 % 5   how the container ends (Ending below)
#include "decrypt_check.h"

#include "engine/crypto_api.h"

#include <algorithm>
#include <cstdint>
#include <random>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

enum class Ending {
    Padded,     // as the encrypt pipeline writes it
    OnPiece,    // bytes of value `parameter` after the stream, so the container
                // fills its last piece or leaves 8 bytes past it
    Truncated,  // 1 + `parameter` bytes cut off the end
    CutAtPiece, // only the whole pieces before the last one
    BadPadding, // padding by hand: last byte `parameter` & 15, the rest `parameter` >> 4
};
constexpr int kEndings = 5;

// One call gives the container the encrypt pipeline writes piece by piece,
// since the chain carries over from one call to the next.
Bytes Encrypt(Bytes data, bool high, bool final) {
    ScopedKey key(high);
    uint32_t length = static_cast<uint32_t>(data.size());
    data.resize(data.size() + kRc2Block);
    if (!CryptEncrypt(key.context.key, nullptr, final, 0, data.data(), &length,
                      static_cast<uint32_t>(data.size())))
        Fail("cannot encrypt a stream", high);
    data.resize(length);
    return data;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PrepareDecryptCheck();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return -1;
    const bool high = data[0] & 1;
    const auto ending = static_cast<Ending>((data[0] >> 1) % kEndings);
    const uint8_t parameter = data[1];
    Bytes stream(data + 2, data + size);

    Bytes container;
    switch (ending) {
    case Ending::Padded:
        container = Encrypt(stream, high, true);
        CheckDecryption(container.data(), container.size(), high, &stream);
        return 0;
    case Ending::OnPiece: {
        // A stream 1..8 bytes short of a piece's end pads up to it exactly;
        // one on the end gets a whole block of padding past it.
        const size_t pieces = (stream.size() + kRc2Block + kPieceSize - 1) / kPieceSize;
        stream.resize(pieces * kPieceSize - parameter % (kRc2Block + 1), parameter);
        container = Encrypt(stream, high, true);
        CheckDecryption(container.data(), container.size(), high, &stream);
        return 0;
    }
    case Ending::Truncated:
        container = Encrypt(stream, high, true);
        container.resize(container.size() - std::min<size_t>(container.size(), 1 + parameter));
        break;
    case Ending::CutAtPiece:
        container = Encrypt(stream, high, true);
        container.resize((container.size() - 1) / kPieceSize * kPieceSize);
        break;
    case Ending::BadPadding: {
        const size_t padding = kRc2Block - stream.size() % kRc2Block;
        stream.insert(stream.end(), padding - 1, static_cast<uint8_t>(parameter >> 4));
        stream.push_back(parameter & 15);
        container = Encrypt(stream, high, false);
        break;
    }
    }
    CheckDecryption(container.data(), container.size(), high);
    return 0;
}

// The control and parameter bytes are two among thousands, which plain
// mutations rarely touch: every fourth mutation changes only one of them.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
    std::minstd_rand random(seed);
    if (size >= 2 && random() % 4 == 0) {
        data[random() % 2] = static_cast<uint8_t>(random());
        return size;
    }
    return LLVMFuzzerMutate(data, size, maxSize);
}
