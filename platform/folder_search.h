#pragma once
// The platform's file search over one folder: each file and subfolder with the
// attributes, size and last-write time of the files service (files.h).
#include <QString>

#include <cstdint>
#include <vector>

namespace plat {

struct FolderEntry {
    QString name;
    uint32_t attributes = 0;
    uint64_t size = 0;
    int64_t lastWrite = 0; // nanoseconds since the Unix epoch
};

// The entries of `folder` in the order the file system gives them, without
// "." and "..". Left out: symbolic links, what is neither a file nor a folder
// (a pipe would block whoever opens it), entries that vanish while they are read, and names
// that do not convert to text and back unchanged, since a path built from
// such a name would lead to another file or none. A name beginning with "."
// carries the system attribute. False, with the last error, when the folder
// cannot be read.
bool SearchFolder(const QString& folder, std::vector<FolderEntry>* entries);

} // namespace plat
