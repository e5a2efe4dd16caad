#include "browser/list_marks.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

#include <array>

namespace {

constexpr int kMarkGap = 2;

struct RowIcons {
    int iconSize = 16;
    qreal pixelRatio = 1.0;
    QPixmap marks; // the strip, or null
    QHash<QString, QIcon> typeIcons;
    // By extension, one picture per mark.
    QHash<QString, std::array<QIcon, kMarkCount + 1>> rowIcons;
    int lookups = 0;
};

RowIcons& Icons() {
    static RowIcons icons;
    return icons;
}

const QColor kRed(204, 0, 0);
const QColor kGrey(160, 160, 160);
const QColor kOutline(64, 64, 64);

void PaintRing(QPainter& p, QPointF centre, qreal radius) {
    p.setPen(QPen(kRed, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius, radius);
}

void PaintDisc(QPainter& p, QPointF centre, qreal radius) {
    p.setPen(QPen(kOutline, 1.0));
    p.setBrush(kGrey);
    p.drawEllipse(centre, radius, radius);
}

void PaintBars(QPainter& p, qreal left) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRect(QRectF(left + 1, 1, kMarkWidth - 2, kMarkHeight - 2));
    const QColor colours[] = {QColor(255, 64, 64), QColor(255, 170, 0), QColor(240, 230, 40),
                              QColor(60, 200, 60), QColor(70, 130, 255)};
    qreal top = 2;
    for (const QColor& colour : colours) {
        p.setBrush(colour);
        p.drawRect(QRectF(left + 2, top, kMarkWidth - 4, 2));
        top += 2.6;
    }
}

// The icon the system has for a type, by a name of that type; null when it
// has none.
QIcon SystemTypeIcon(const QString& suffix) {
    static const QMimeDatabase mimeTypes;
    const QString sample =
        suffix.isEmpty() ? QStringLiteral("file") : QStringLiteral("file.") + suffix;
    const QMimeType type = mimeTypes.mimeTypeForFile(sample, QMimeDatabase::MatchExtension);
    QIcon icon;
    if (type.isValid()) {
        icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(type.genericIconName());
    }
    if (icon.isNull())
        icon = QFileIconProvider().icon(QAbstractFileIconProvider::File);
    return icon;
}

// A plain page with a folded corner, for types the system shows no icon for.
QIcon GenericFileIcon(int size, qreal pixelRatio) {
    QPixmap page(QSize(size, size) * pixelRatio);
    page.setDevicePixelRatio(pixelRatio);
    page.fill(Qt::transparent);
    QPainter p(&page);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath outline;
    outline.moveTo(s * 0.2, s * 0.06);
    outline.lineTo(s * 0.6, s * 0.06);
    outline.lineTo(s * 0.82, s * 0.28);
    outline.lineTo(s * 0.82, s * 0.94);
    outline.lineTo(s * 0.2, s * 0.94);
    outline.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 1.0));
    p.setBrush(Qt::white);
    p.drawPath(outline);
    p.drawLine(QPointF(s * 0.6, s * 0.06), QPointF(s * 0.6, s * 0.28));
    p.drawLine(QPointF(s * 0.6, s * 0.28), QPointF(s * 0.82, s * 0.28));
    return QIcon(page);
}

const QIcon& TypeIcon(const QString& suffix) {
    RowIcons& icons = Icons();
    auto it = icons.typeIcons.find(suffix);
    if (it == icons.typeIcons.end()) {
        ++icons.lookups;
        QIcon icon = SystemTypeIcon(suffix);
        if (icon.isNull())
            icon = GenericFileIcon(icons.iconSize, icons.pixelRatio);
        it = icons.typeIcons.insert(suffix, icon);
    }
    return it.value();
}

} // namespace

QString MarkDescription(ItemMark mark) {
    switch (mark) {
    case ItemMark::HiddenPlain:
        return QStringLiteral("hidden");
    case ItemMark::Encrypted:
        return QStringLiteral("encrypted");
    case ItemMark::HiddenEncrypted:
        return QStringLiteral("encrypted, hidden");
    case ItemMark::Busy:
        return QStringLiteral("in progress");
    case ItemMark::NoMark:
        break;
    }
    return QString();
}

QPixmap PaintMarkStrip(qreal pixelRatio) {
    QPixmap strip(QSize(kMarkWidth * kMarkCount, kMarkHeight) * pixelRatio);
    if (strip.isNull())
        return strip;
    strip.setDevicePixelRatio(pixelRatio);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal middle = kMarkHeight / 2.0;
    const auto centre = [middle](int image) { return QPointF(image * kMarkWidth + 5.0, middle); };
    PaintRing(p, centre(0), 4.0);
    PaintDisc(p, centre(1), 3.5);
    PaintRing(p, centre(2), 4.2);
    PaintDisc(p, centre(2), 2.4);
    PaintBars(p, 3 * kMarkWidth);
    return strip;
}

bool PrepareRowIcons(int iconSize, qreal pixelRatio) {
    RowIcons& icons = Icons();
    icons = RowIcons();
    icons.iconSize = iconSize;
    icons.pixelRatio = pixelRatio;
    icons.marks = PaintMarkStrip(pixelRatio);
    return !icons.marks.isNull();
}

QSize RowIconSize() {
    const RowIcons& icons = Icons();
    return QSize(kMarkWidth + kMarkGap + icons.iconSize, qMax(kMarkHeight, icons.iconSize));
}

QIcon RowIcon(const QString& name, ItemMark mark) {
    RowIcons& icons = Icons();
    const int markIndex = static_cast<int>(mark);
    if (markIndex < 0 || markIndex > kMarkCount)
        return {};
    // A name without a dot, or a dot file, has no extension to go by.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot > 0 ? name.mid(dot + 1).toLower() : QString();
    QIcon& cached = icons.rowIcons[suffix][markIndex];
    if (!cached.isNull())
        return cached;

    const QSize size = RowIconSize();
    QPixmap picture(size * icons.pixelRatio);
    picture.setDevicePixelRatio(icons.pixelRatio);
    picture.fill(Qt::transparent);
    {
        QPainter p(&picture);
        if (markIndex > 0 && !icons.marks.isNull()) {
            const qreal r = icons.pixelRatio;
            const QRectF source((markIndex - 1) * kMarkWidth * r, 0, kMarkWidth * r,
                                kMarkHeight * r);
            p.drawPixmap(QRectF(0, (size.height() - kMarkHeight) / 2.0, kMarkWidth, kMarkHeight),
                         icons.marks, source);
        }
        const QPixmap file =
            TypeIcon(suffix).pixmap(QSize(icons.iconSize, icons.iconSize), icons.pixelRatio);
        p.drawPixmap(QRect(kMarkWidth + kMarkGap, (size.height() - icons.iconSize) / 2,
                           icons.iconSize, icons.iconSize),
                     file);
    }
    cached = QIcon(picture);
    return cached;
}

int SystemIconLookups() {
    return Icons().lookups;
}

void ReleaseRowIcons() {
    Icons() = RowIcons();
}
