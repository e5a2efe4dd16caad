#pragma once
// The pictures of the file list: the four state marks drawn beside a name,
// and one icon per row made of the row's mark beside the icon of its file's type.
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

enum class ItemMark : int {
    NoMark = 0,
    HiddenPlain = 1,     // red ring
    Encrypted = 2,       // grey disc with a dark outline
    HiddenEncrypted = 3, // grey disc inside a red ring
    Busy = 4,            // column of coloured bars on black
};

inline constexpr int kMarkWidth = 10;
inline constexpr int kMarkHeight = 16;
inline constexpr int kMarkCount = 4;

// The mark in words: "encrypted", "hidden", "encrypted, hidden", "in
// progress"; empty for NoMark.
QString MarkDescription(ItemMark mark);

// The strip of the four marks side by side, 40 by 16, in the order of
// ItemMark from HiddenPlain; drawn at `pixelRatio` for sharp high-density
// screens. Null when no pixmap could be made.
QPixmap PaintMarkStrip(qreal pixelRatio);

// Prepares the row pictures for a list whose small icons are `iconSize`
// pixels square, drawn at `pixelRatio`. False when the marks could not be
// drawn; rows then show their file icons only.
bool PrepareRowIcons(int iconSize, qreal pixelRatio);
// Mark area, gap and file icon side by side.
QSize RowIconSize();
// The picture of a row whose (display) name is `name`. The file's icon comes
// from its type, looked up once per name extension.
QIcon RowIcon(const QString& name, ItemMark mark);
// How often the system was asked for a type's icon since PrepareRowIcons.
int SystemIconLookups();
void ReleaseRowIcons();
