#pragma once
// A password's key for one encrypt or decrypt run: provider, MD5 hash of the
// password, and the RC2 key derived from it.
#include "engine/crypto_api.h"
#include "engine/error_report.h"

#include <QString>
#include <cstdint>

struct KeyContext {
    HCRYPTPROV provider = nullptr;
    HCRYPTHASH hash = nullptr;
    HCRYPTKEY key = nullptr;
    uint32_t blockLength = 0; // in bits, as the key reports it
};

// 0 when complete, else the number (1..6) of the step that failed, with the
// context as far as it got and the reason in the last error.
int OpenKeyContext(KeyContext* context, const QString& password, bool high);
// Releases whatever the context holds; safe on a partial context.
void CloseKeyContext(KeyContext* context);

// A run's key with the buffer its chunks pass through.
struct ChunkCipher {
    KeyContext context;
    uint8_t* buffer = nullptr;
    uint32_t bufferSize = 0;
};
// Opens the key for `password` at the strength the options ask for, and a
// buffer of `multiple` times the key's block length in bits, taken as bytes:
// 64 makes 4,096 bytes, which is 512 RC2 blocks of 8 bytes, not 64. False
// with a code recorded: that of the failed key step counted on from
// `firstKeyStep`, or `outOfMemory`.
bool OpenChunkCipher(ChunkCipher* cipher, const QString& password, uint32_t multiple,
                     ErrorCode firstKeyStep, ErrorCode outOfMemory);
// Zeroes and frees the buffer, then releases the key; safe on a partial cipher.
void CloseChunkCipher(ChunkCipher* cipher);
// Whether the Enhanced provider can be acquired. Records and shows nothing.
bool ProbeEnhancedProvider();
