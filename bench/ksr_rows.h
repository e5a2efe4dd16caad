#pragma once
// ksr at scale and as a filter: whole commands timed pair by pair in one run
// (A, B, A, B ...), each row a ratio of the two.
#include <QString>

namespace bench {

// Prints the rows with work files in `folder`: many small and a few large
// files with -j 2 beside -j 1; decrypting to a file and to standard output
// beside gpg -d; encrypting standard input beside the same file named. With
// `quick`, small data and one pair each, to check that every row runs.
// False only when a ksr run failed.
bool RunKsrRows(const QString& ksr, const QString& folder, bool quick);

} // namespace bench
