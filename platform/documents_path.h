#pragma once
// The user's documents folder: the base folder of main memory and, at the same
// place below a card's root, of every storage card.
#include <QString>

namespace plat {

// The documents folder as an absolute path without a trailing separator, not
// created when it is missing; empty when the system names none or the root.
// Never the home folder itself: where the system names home (also through a
// link), it is $HOME/Documents, made with mode 0700 when missing, and still
// that path when it cannot be made.
QString QueryDocumentsPath();

// Where the documents folder lies on a storage card, relative to the card's
// root: its part below the home folder ("Documents"), or for a documents
// folder outside home its whole path without the leading separator. Empty when
// the documents folder is the home folder, the root, or unknown.
QString DocumentsPathOnCard(const QString& documentsPath, const QString& homePath);

} // namespace plat
