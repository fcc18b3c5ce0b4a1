#include "pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace {

QImage transparentCanvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

} // namespace

QImage drawStartIcon(int size)
{
    QImage image = transparentCanvas(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);

    const QRectF body(1.5, 1.5, 29, 29);
    QLinearGradient green(0, body.top(), 0, body.bottom());
    green.setColorAt(0, QColor(110, 214, 96));
    green.setColorAt(1, QColor(38, 150, 52));
    painter.setPen(QPen(QColor(26, 110, 38), 1.2));
    painter.setBrush(green);
    painter.drawRoundedRect(body, 6, 6);

    // Soft gloss over the upper half.
    QPainterPath gloss;
    gloss.addRoundedRect(QRectF(3, 2.6, 26, 12), 5, 5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 48));
    painter.drawPath(gloss);

    QPolygonF play;
    play << QPointF(12, 8.5) << QPointF(12, 23.5) << QPointF(24, 16);
    painter.setBrush(QColor(0, 70, 10, 70));
    painter.drawPolygon(play.translated(0.6, 0.9));
    painter.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::white);
    painter.drawPolygon(play);
    return image;
}

QImage drawStopIcon(int size)
{
    QImage image = transparentCanvas(size);
    QPainter painter(&image);
    painter.scale(size / 32.0, size / 32.0);
    // Whole pixels, no antialiasing: a plain square with a crisp rim.
    painter.fillRect(QRect(2, 2, 28, 28), QColor(150, 18, 18));
    painter.fillRect(QRect(4, 4, 24, 24), QColor(226, 46, 40));
    return image;
}
