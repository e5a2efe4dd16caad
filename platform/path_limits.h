#pragma once
// How long a path Keshlor takes, counted as Linux counts it: in bytes of the
// file-system encoding. A whole path has at most 4,095 (PATH_MAX less its
// NUL), each name at most 255 (NAME_MAX), and a plain file's name at most 251,
// so that its container's name (".ksr" added) fits too.
#include <QString>

namespace plat {

inline constexpr int kLongestPathBytes = 4095;
inline constexpr int kLongestNameBytes = 255;
inline constexpr int kContainerExtensionBytes = 4;
inline constexpr int kLongestPlainNameBytes = kLongestNameBytes - kContainerExtensionBytes;

// The bytes of `text` in the file-system encoding.
int PathBytes(const QString& text);

// The whole path within kLongestPathBytes and each of its names within
// kLongestNameBytes.
bool PathFits(const QString& path);
// PathFits for the path with ".ksr" added: a plain file whose container can
// be named.
bool ContainerPathFits(const QString& plainPath);

// Sets the last error (206) and a detail naming `path` (without its middle
// when it is very long) and the limit it passes; `forContainer` when it is
// its container's name that would not fit.
void RefuseLongPath(const QString& path, bool forContainer);

} // namespace plat
