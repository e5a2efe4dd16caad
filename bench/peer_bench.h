#pragma once
// ksr beside other programs that compress and encrypt a file, each timed as a
// whole command from start to exit, as a user would run it.
#include <QString>
#include <QStringList>

namespace bench {

// Prints the peer table for `size` bytes of text at deflate level 1, best of
// `repeats` runs each, with work files in `folder`. Peers that are not
// installed are named and skipped. False only when ksr itself failed.
bool RunPeers(const QString& ksr, const QString& folder, size_t size, int repeats);

// gpg run unattended: no terminal, its keys under `home`, the passphrase
// read from `passwordFile`. The caller adds what gpg is to do.
QStringList GpgCommand(const QString& gpg, const QString& home, const QString& passwordFile);

} // namespace bench
