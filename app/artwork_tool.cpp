// Paints the program's artwork at build time: the application icon (a brass
// padlock), the notification icon (a key), the strip of command-bar images
// (exit, refresh, about), and the icons the desktop's theme gets: the padlock
// in its larger sizes and the container file type (a page under the padlock).
// Usage: keshlor_artwork OUTPUT_FOLDER
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>
#include <functional>

namespace {

using Painter = std::function<void(QPainter&)>;

// Every drawing is made on a 32 by 32 grid and scaled to the size asked for.
QImage Render(int width, int height, qreal scale, const Painter& paint) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    paint(painter);
    painter.end();
    return image;
}

void PaintPadlock(QPainter& p) {
    // Shackle
    QPainterPath shackle;
    shackle.moveTo(10, 16);
    shackle.lineTo(10, 10.5);
    shackle.arcTo(QRectF(10, 4, 12, 13), 180, -180);
    shackle.lineTo(22, 16);
    QLinearGradient steel(8, 0, 24, 0);
    steel.setColorAt(0, QColor(0x5b, 0x66, 0x72));
    steel.setColorAt(0.45, QColor(0xd4, 0xda, 0xe0));
    steel.setColorAt(1, QColor(0x4a, 0x54, 0x5e));
    p.setPen(QPen(QColor(0x33, 0x3a, 0x42), 4.4, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(shackle);
    p.setPen(QPen(QBrush(steel), 2.6, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(shackle);

    // Body
    const QRectF body(4.5, 14.5, 23, 16);
    QLinearGradient brass(0, body.top(), 0, body.bottom());
    brass.setColorAt(0, QColor(0xff, 0xd4, 0x6a));
    brass.setColorAt(0.5, QColor(0xe9, 0xa2, 0x2b));
    brass.setColorAt(1, QColor(0xb8, 0x6a, 0x12));
    p.setPen(QPen(QColor(0x6e, 0x3f, 0x08), 1.2));
    p.setBrush(brass);
    p.drawRoundedRect(body, 3, 3);
    p.setPen(QPen(QColor(255, 255, 255, 130), 1));
    p.drawLine(QPointF(7.5, 16.3), QPointF(24.5, 16.3));

    // Keyhole
    QPainterPath hole;
    hole.addEllipse(QPointF(16, 21), 2.7, 2.7);
    QPainterPath slot;
    slot.moveTo(14.6, 22.5);
    slot.lineTo(17.4, 22.5);
    slot.lineTo(18.1, 27.5);
    slot.lineTo(13.9, 27.5);
    slot.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3a, 0x20, 0x05));
    p.drawPath(hole.united(slot));
}

// The 16-pixel padlock is drawn on whole pixels so that it stays crisp.
void PaintSmallPadlock(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor outline(0x33, 0x3a, 0x42);
    p.setPen(Qt::NoPen);
    p.setBrush(outline);
    p.drawRect(4, 2, 8, 2);
    p.drawRect(3, 3, 2, 5);
    p.drawRect(11, 3, 2, 5);
    p.setBrush(QColor(0xc9, 0xd0, 0xd7));
    p.drawRect(5, 3, 6, 1);
    p.drawRect(4, 4, 1, 3);
    p.drawRect(11, 4, 1, 3);

    p.setBrush(QColor(0x6e, 0x3f, 0x08));
    p.drawRect(2, 7, 12, 8);
    p.setBrush(QColor(0xff, 0xd4, 0x6a));
    p.drawRect(3, 8, 10, 2);
    p.setBrush(QColor(0xe9, 0xa2, 0x2b));
    p.drawRect(3, 10, 10, 2);
    p.setBrush(QColor(0xc7, 0x7a, 0x18));
    p.drawRect(3, 12, 10, 2);
    p.setBrush(QColor(0x3a, 0x20, 0x05));
    p.drawRect(6, 9, 4, 2);
    p.drawRect(7, 11, 2, 2);
}

// The scalable icons (app/resources/*.svg) repeat these two drawings.
void PaintContainer(QPainter& p) {
    QPainterPath page;
    page.moveTo(6, 2.5);
    page.lineTo(19.5, 2.5);
    page.lineTo(26, 9);
    page.lineTo(26, 29.5);
    page.lineTo(6, 29.5);
    page.closeSubpath();
    const QColor edge(0x6b, 0x73, 0x7b);
    p.setPen(QPen(edge, 1));
    p.setBrush(QColor(0xfa, 0xfa, 0xf7));
    p.drawPath(page);
    QPainterPath fold;
    fold.moveTo(19.5, 2.5);
    fold.lineTo(19.5, 9);
    fold.lineTo(26, 9);
    fold.closeSubpath();
    p.setBrush(QColor(0xd9, 0xdd, 0xe1));
    p.drawPath(fold);
    p.setPen(QPen(QColor(0xb4, 0xbb, 0xc2), 1.2));
    p.drawLine(QPointF(9, 7), QPointF(17, 7));
    p.drawLine(QPointF(9, 10.5), QPointF(23, 10.5));
    p.translate(7.2, 12.5);
    p.scale(0.55, 0.55);
    PaintPadlock(p);
}

void PaintKey(QPainter& p) {
    p.translate(16, 16);
    p.rotate(45);
    QPainterPath key;
    key.addEllipse(QPointF(-8, 0), 6.5, 6.5);
    key.addRect(QRectF(-2.5, -2, 16, 4));
    key.addRect(QRectF(8, 2, 2.4, 4));
    key.addRect(QRectF(11.5, 2, 2, 3));
    QPainterPath hole;
    hole.addEllipse(QPointF(-9.5, 0), 2.3, 2.3);
    key = key.simplified().subtracted(hole);
    QLinearGradient gold(0, -7, 0, 7);
    gold.setColorAt(0, QColor(0xff, 0xdf, 0x80));
    gold.setColorAt(1, QColor(0xc8, 0x7f, 0x16));
    p.setPen(QPen(QColor(0x6e, 0x3f, 0x08), 1.3));
    p.setBrush(gold);
    p.drawPath(key);
}

void PaintDisc(QPainter& p, const QColor& light, const QColor& dark) {
    QRadialGradient shade(QPointF(12, 10), 18);
    shade.setColorAt(0, light);
    shade.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(140), 1.6));
    p.setBrush(shade);
    p.drawEllipse(QPointF(16, 16), 14, 14);
}

void PaintExit(QPainter& p) {
    PaintDisc(p, QColor(0xf2, 0x6b, 0x5b), QColor(0xb3, 0x24, 0x1a));
    QPen white(Qt::white, 3.4, Qt::SolidLine, Qt::RoundCap);
    p.setPen(white);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(9, 9.5, 14, 14), 125 * 16, 290 * 16);
    p.drawLine(QPointF(16, 6.5), QPointF(16, 15));
}

void PaintRefresh(QPainter& p) {
    const QColor green(0x23, 0x8a, 0x3c);
    for (int turn = 0; turn < 2; ++turn) {
        p.save();
        p.translate(16, 16);
        p.rotate(180 * turn);
        p.setPen(QPen(green, 4, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(-11, -11, 22, 22), 20 * 16, 130 * 16);
        QPainterPath head;
        head.moveTo(-15.5, -1);
        head.lineTo(-4.5, -1);
        head.lineTo(-10, 6.5);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(green);
        p.drawPath(head);
        p.restore();
    }
}

void PaintAbout(QPainter& p) {
    PaintDisc(p, QColor(0x6c, 0xa8, 0xf0), QColor(0x1f, 0x58, 0xa8));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 9.5), 2.6, 2.6);
    p.drawRoundedRect(QRectF(13.6, 13.5, 4.8, 12), 1.5, 1.5);
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "keshlor_artwork: cannot write %s\n", qPrintable(path));
    return false;
}

QImage Strip(int cell) {
    const qreal scale = cell / 32.0;
    const Painter images[] = {PaintExit, PaintRefresh, PaintAbout};
    QImage strip(cell * 3, cell, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    for (int i = 0; i < 3; ++i)
        painter.drawImage(i * cell, 0, Render(cell, cell, scale, images[i]));
    painter.end();
    return strip;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: keshlor_artwork OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.filePath(QStringLiteral("icons"))))
        return 1;
    const auto at = [&out](const char* name) {
        return out.filePath(QStringLiteral("icons/") + QLatin1String(name));
    };
    bool ok = true;
    ok &= Save(Render(16, 16, 1, PaintSmallPadlock), at("keshlor-16.png"));
    ok &= Save(Render(32, 32, 1, PaintPadlock), at("keshlor-32.png"));
    for (const int size : {48, 64, 128, 256}) {
        const QByteArray name = "keshlor-" + QByteArray::number(size) + ".png";
        ok &= Save(Render(size, size, size / 32.0, PaintPadlock), at(name.constData()));
    }
    for (const int size : {16, 32, 48, 64}) {
        const QByteArray name = "container-" + QByteArray::number(size) + ".png";
        ok &= Save(Render(size, size, size / 32.0, PaintContainer), at(name.constData()));
    }
    ok &= Save(Render(16, 16, 0.5, PaintKey), at("notify-16.png"));
    ok &= Save(Render(32, 32, 1, PaintKey), at("notify-32.png"));
    ok &= Save(Strip(16), at("commands.png"));
    ok &= Save(Strip(32), at("commands@2x.png"));
    return ok ? 0 : 1;
}
