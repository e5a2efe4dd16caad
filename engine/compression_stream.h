#pragma once
// A file bound to a zlib stream: the plain source deflated for encryption, or
// the plain target that inflated data is written to.
#include "platform/files.h"
#include "platform/ports.h"

#include <QString>
#include <zlib.h>

#include <cstdint>
#include <functional>

inline constexpr uint32_t kStagingSize = 4096;

enum StreamMode : int32_t { Compress = 0, Decompress = 1 };

struct CompressionStream {
    plat::UniqueFd source; // Compress: the plain file being read
    int32_t mode = Compress;
    z_stream stream{};
    uint8_t staging[kStagingSize];
    int32_t endOfInput = 0;   // Compress: a read came back short
    bool streamEnded = false; // zlib reported Z_STREAM_END
    plat::FileState opened;   // Compress: the plain file as it was opened
    plat::Replacement target; // Decompress: the plain file being written
    // Compress: where the plain data comes from instead of `source`, when set;
    // as ReadFile, a short count means the end of the data.
    std::function<bool(uint8_t* buffer, uint32_t size, uint32_t* count)> input;
    // Decompress: where the plain data goes instead of `target`, when set;
    // false, with the last error set, when it was not all taken.
    std::function<bool(const uint8_t* data, uint32_t size)> output;
};

enum class PumpResult : int { Ok = 0, BadData = 1, Failed = 2 };

// A stream in Compress mode over the plain file, or null with a code recorded
// (kEncryptOutOfMemory for the object, kPlainOpenFailed for the file,
// kDeflateStartFailed for deflateInit). A plain file that other hard links
// also name is refused with kPlainOpenFailed: removing this name after
// encryption would leave its data readable under the others.
CompressionStream* OpenCompressionStream(const QString& plainPath);
// False, with kPlainReadFailed recorded, when anything wrote to the plain file since
// it was opened, or its name now holds another file: the container would then
// hold no single version of it.
bool PlainFileUnchanged(const CompressionStream* stream, const QString& plainPath);
// Records kPlainReadFailed with the detail that says the file changed meanwhile.
void RecordChangedPlainFile(const QString& plainPath);
// 0 with a stream; 0 with none on failure (kInflateOutOfMemory,
// kPlainNotCreated or kInflateStartFailed recorded); 1 with none when the
// user declined to overwrite.
int CreateDecompressionStream(plat::WindowHandle window, const QString& plainPath,
                              CompressionStream** stream);
// Compress: fills `buffer` with up to `length` bytes of compressed stream.
// Decompress: inflates all `length` bytes and writes the output to the file.
PumpResult PumpCompressionStream(CompressionStream* stream, uint8_t* buffer, uint32_t length,
                                 uint32_t* count);
// PumpCompressionStream for a stage thread: the code of a failure goes to
// `failure` for the caller's thread to record, with this thread's last error.
PumpResult PumpWithoutRecording(CompressionStream* stream, uint8_t* buffer, uint32_t length,
                                uint32_t* count, int32_t* failure);
void CloseCompressionStream(CompressionStream* stream);
// Streams bound to `input` or `output` rather than a file, with the codes of
// OpenCompressionStream and CreateDecompressionStream for what fails.
CompressionStream*
OpenCompressionStreamOn(std::function<bool(uint8_t* buffer, uint32_t size, uint32_t* count)> input);
CompressionStream*
CreateDecompressionStreamTo(std::function<bool(const uint8_t* data, uint32_t size)> output);

// Starts the file that will take `path` with `attributes`, asking before it
// would replace a file; the earlier file stays as it is until the new one is
// committed. Returns whether a handle was produced; its file is not valid
// when creation itself failed, or when `path` is a link or anything else but
// a regular file or a folder (last error set, nothing asked). A folder, like
// a protected file, cannot be overwritten: the user is told, and no handle
// is produced.
bool CreateTargetFile(plat::WindowHandle window, const QString& prompt, uint32_t attributes,
                      const QString& path, plat::TemporaryKind kind, plat::Replacement* target);

// Where storage cannot keep the access list (ACL) of the file a new one was
// made from, the new file is its owner's alone; the user hears of it once.
void WarnAccessListNotKept(plat::WindowHandle window, const QString& path);
void ForgetAccessListWarning();
