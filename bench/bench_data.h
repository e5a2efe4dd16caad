#pragma once
// Reproducible inputs for the benchmark and the file chores around its timed
// runs.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

using Bytes = std::vector<uint8_t>;

// Lines of words from a small vocabulary: deflate shrinks it several times over.
Bytes CompressibleText(size_t size, uint64_t seed);
// Bytes deflate cannot shrink.
Bytes RandomBytes(size_t size, uint64_t seed);

// Writes `size` bytes and pushes them to the disk, so that writeback of set-up
// data does not compete with the timed run that follows.
bool WriteDurably(const QString& path, const uint8_t* data, size_t size);
inline bool WriteDurably(const QString& path, const Bytes& bytes) {
    return WriteDurably(path, bytes.data(), bytes.size());
}
bool ReadWhole(const QString& path, Bytes* bytes);
// Whether the file is `length` bytes of `pattern` repeated; read in pieces, so
// checking a 1 GiB file needs no 1 GiB buffer.
bool FileRepeats(const QString& path, const Bytes& pattern, uint64_t length);
bool Exists(const QString& path);
void Remove(const QString& path);

// The file system type's name when it keeps files in memory ("tmpfs",
// "ramfs"), else empty.
QString MemoryFileSystemName(const QString& folder);

} // namespace bench
