#pragma once
// A file bound to a zlib stream: the plain source deflated for encryption, or
// the plain target that inflated data is written to.
#include "files.h"
#include "ports.h"

#include <QString>
#include <zlib.h>

#include <cstdint>

inline constexpr uint32_t kStagingSize = 4096;

enum StreamMode : int32_t { Compress = 0, Decompress = 1 };

struct CompressionStream {
    plat::FileHandle file = plat::kInvalidHandle;
    int32_t mode = Compress;
    z_stream stream{};
    uint8_t staging[kStagingSize];
    int32_t endOfInput = 0;   // Compress: a read came back short
    bool streamEnded = false; // zlib reported Z_STREAM_END
};

enum class PumpResult : int { Ok = 0, BadData = 1, Failed = 2 };

// A stream in Compress mode over the plain file, or null with a code recorded
// (7 for the object, 21 for the file, 22 for deflateInit).
CompressionStream* OpenCompressionStream(const QString& plainPath);
// 0 with a stream; 0 with none on failure (25, 26 or 27 recorded); 1 with none
// when the user declined to overwrite.
int CreateDecompressionStream(plat::WindowHandle window, const QString& plainPath,
                              CompressionStream** stream);
// Compress: fills `buffer` with up to `length` bytes of compressed stream.
// Decompress: inflates all `length` bytes and writes the output to the file.
PumpResult PumpCompressionStream(CompressionStream* stream, uint8_t* buffer, uint32_t length,
                                 uint32_t* count);
void CloseCompressionStream(CompressionStream* stream);

// Creates `path` with `attributes`, asking before it overwrites a file. Returns
// whether a handle was produced; the handle is kInvalidHandle when creation
// itself failed (last error set).
bool CreateTargetFile(plat::WindowHandle window, const QString& prompt, uint32_t attributes,
                      const QString& path, plat::FileHandle* handle);
