#pragma once
// The chunk loops of the encrypt and decrypt runs, with the place the
// container's bytes go to or come from left to the caller: a file under its
// temporary name, the file being decrypted, or a descriptor such as a pipe.
#include "engine/compression_stream.h"
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "engine/key_context.h"

#include <cstdint>
#include <functional>

// Takes `count` bytes of container as they are made; false, with the last
// error set, when they could not all be written.
using ContainerSink = std::function<bool(const uint8_t* data, uint32_t count)>;
// Reads the next piece of a container, up to `size` bytes, and says whether
// the container ends with it; false, with the last error set, when reading
// fails. Called from one thread at a time, maybe not the caller's.
using ContainerSource =
    std::function<bool(uint8_t* data, uint32_t size, uint32_t* count, bool* final)>;

// Moves the compressed stream through the cipher into `sink`, chunk by
// chunk; `plainSize` is for progress (0 when unknown).
EncryptResult RunEncryptChunks(const ChunkCipher& cipher, CompressionStream* stream,
                               const ContainerSink& sink, uint64_t plainSize);
// Moves the container from `source` through the cipher and inflate into
// `stream`, chunk by chunk; `containerSize` is for progress (0 when unknown).
DecryptResult RunDecryptChunks(const ChunkCipher& cipher, const ContainerSource& source,
                               uint64_t containerSize, CompressionStream* stream);

// A container file read from its start: it ends with the piece that reaches
// `containerSize` or comes back short.
ContainerSource FileContainerSource(int container, uint64_t containerSize);
