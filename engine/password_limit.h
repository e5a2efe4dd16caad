#pragma once
// The longest password, in UTF-16 units, that the program's dialogs and ksr
// both take, so that a container made with one can be opened with the other.

inline constexpr int kMaxPasswordUnits = 1024;
