#pragma once
// The longest path, in UTF-16 units, that Keshlor builds or takes: a buffer
// of 260 with its terminator, as on the platform its containers are shared
// with.

namespace plat {

inline constexpr int kLongestPath = 259;

} // namespace plat
