#pragma once
// What the decrypt pipeline's fuzz targets hold it to. Whatever the container,
// a run must not crash or hang, must leave no plain file unless it succeeded,
// must keep the container unless it succeeded, and must agree with a one-shot
// decryption and inflate of the same bytes: Ok exactly when that yields a
// complete zlib stream, and then the plain file holds exactly its output.
#include "engine/key_context.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kRc2Block = 8;
// The pipeline reads and decrypts the container in pieces of this size.
inline constexpr size_t kPieceSize = 4096;

[[noreturn]] void Fail(const char* what, bool high);

// A key context for the fixed password, closed however the caller leaves.
struct ScopedKey {
    KeyContext context;
    explicit ScopedKey(bool high);
    ~ScopedKey();
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
};

// The work folder and the ports; for LLVMFuzzerInitialize.
void PrepareDecryptCheck();

// The whole of `data` through CryptDecrypt as one final call: the zlib stream,
// or false when the padding is wrong or there is nothing.
bool DecryptAll(const uint8_t* data, size_t size, bool high, Bytes* stream);
// Inflates `stream` whole; true only when it ends properly. Bytes after the
// end are ignored, as the pipeline ignores them.
bool InflateAll(const Bytes& stream, Bytes* plain);

// Runs the pipeline on `container` at one strength and checks it as above.
// With `knownStream`, the one-shot decryption must also give exactly it.
void CheckDecryption(const uint8_t* container, size_t size, bool high,
                     const Bytes* knownStream = nullptr);
