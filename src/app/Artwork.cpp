#include "app/Artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace app {

namespace {

constexpr int ImageSize = 32;

QImage BlankImage(int size = ImageSize)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void DrawFilm(QPainter& p)
{
    // The film sheet, with a light bone on it as an X-ray shows one.
    p.setPen(QPen(QColor(0x9a, 0xa6, 0xb4), 1));
    p.setBrush(QColor(0x1d, 0x2b, 0x3c));
    p.drawRect(QRectF(1.5, 1.5, 14, 19));
    p.setPen(QPen(QColor(0xe4, 0xec, 0xf4), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.5, 6), QPointF(11.5, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe4, 0xec, 0xf4));
    p.drawEllipse(QPointF(4.5, 5.5), 2, 1.6);
    p.drawEllipse(QPointF(6.5, 4.5), 1.6, 2);
    p.drawEllipse(QPointF(12.5, 16.5), 2, 1.6);
    p.drawEllipse(QPointF(10.5, 17.5), 1.6, 2);
}

void DrawDiskStack(QPainter& p)
{
    // Three platters seen from the side and above, the top one last so it covers the others.
    const QColor side(0x5b, 0x6b, 0x80);
    const QColor top(0xc9, 0xd3, 0xde);
    for (int level = 2; level >= 0; --level) {
        const double y = 20.5 + level * 3.5;
        QPainterPath body;
        body.moveTo(17, y);
        body.lineTo(17, y + 3);
        body.arcTo(QRectF(17, y + 0.5, 14, 5), 180, 180);
        body.lineTo(31, y);
        body.closeSubpath();
        p.setPen(QPen(QColor(0x2d, 0x38, 0x48), 1));
        p.setBrush(side);
        p.drawPath(body);
        p.setBrush(top);
        p.drawEllipse(QRectF(17, y - 2.5, 14, 5));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2d, 0x38, 0x48));
    p.drawEllipse(QPointF(24, 18), 1.6, 0.8);
}

void DrawArrow(QPainter& p)
{
    QPainterPath arrow;
    arrow.moveTo(10, 11);
    arrow.lineTo(17, 11);
    arrow.lineTo(17, 7);
    arrow.lineTo(24, 13.5);
    arrow.lineTo(17, 20);
    arrow.lineTo(17, 16);
    arrow.lineTo(10, 16);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0x1b, 0x5e, 0x20), 1));
    p.setBrush(QColor(0x3c, 0xb0, 0x43));
    p.drawPath(arrow);
}

} // namespace

QImage ExitImage()
{
    QImage image = BlankImage();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x8e, 0x12, 0x12), 1));
    p.setBrush(QColor(0xd3, 0x2f, 0x2f));
    p.drawRoundedRect(QRectF(2.5, 2.5, 27, 27), 6, 6);
    // The power sign: a ring open at the top and a bar through the opening.
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8.5, 9.5, 15, 15), 60 * 16, -300 * 16);
    p.drawLine(QPointF(16, 7.5), QPointF(16, 16));
    return image;
}

QImage MigrationImage()
{
    return MigrationImage(ImageSize);
}

QImage MigrationImage(int size)
{
    QImage image = BlankImage(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / double(ImageSize), size / double(ImageSize)); // drawn in the 32-pixel grid
    DrawFilm(p);
    DrawDiskStack(p);
    DrawArrow(p);
    return image;
}

QImage Greyed(const QImage& image)
{
    QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const int level = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(level, level, level, qAlpha(line[x]));
        }
    }
    return grey;
}

QIcon ToolbarIcon(const QImage& image)
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(image), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(Greyed(image)), QIcon::Disabled);
    return icon;
}

QIcon WindowIcon()
{
    QImage image = MigrationImage().convertToFormat(QImage::Format_Indexed8, Qt::ThresholdAlphaDither);
    return QIcon(QPixmap::fromImage(image));
}

} // namespace app
