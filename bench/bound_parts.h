#pragma once
// The parts a pipeline run is made of, each timed alone on the bytes the
// pipeline handles: their sum is the time no pipeline can beat.
#include "bench_data.h"
#include "stopwatch.h"

#include <QString>

#include <optional>

namespace bench {

// Deflate at `level` from memory into 4096-byte output chunks, as the encrypt
// pipeline fills its cipher buffer. `compressed`, when given, receives the stream.
std::optional<Sample> TimeDeflate(const Bytes& plain, int level, Bytes* compressed = nullptr);
// Inflate fed 4096 bytes at a time into a 4096-byte staging buffer; fails
// unless exactly `plainSize` bytes come out.
std::optional<Sample> TimeInflate(const Bytes& compressed, size_t plainSize);
// RC2-CBC through the crypto layer on the compressed stream, chunked and
// padded as the encrypt pipeline does.
std::optional<Sample> TimeRc2Encrypt(const Bytes& compressed, bool high);
// RC2-CBC through the crypto layer on the container, last chunk final.
std::optional<Sample> TimeRc2Decrypt(const Bytes& container, bool high);
// A new file at `path` written in 4096-byte pieces and flushed to the disk;
// the file is removed afterwards.
std::optional<Sample> TimeWriteAndFlush(const QString& path, const Bytes& bytes);

} // namespace bench
