#include "pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

// The drawing is laid out on a 256 x 256 grid and scaled to the wanted size.
const double grid = 256.0;

void paintBook(QPainter &painter, const QRectF &spine, const QColor &cover)
{
    QLinearGradient shade(0, spine.top(), 0, spine.bottom());
    shade.setColorAt(0, cover.lighter(125));
    shade.setColorAt(0.55, cover);
    shade.setColorAt(1, cover.darker(125));
    painter.setPen(QPen(cover.darker(210), 7, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    painter.setBrush(shade);
    painter.drawRoundedRect(spine, 14, 14);

    // Ribs near both ends of the spine and a title label between them.
    painter.setPen(Qt::NoPen);
    painter.setBrush(cover.lighter(150));
    for (double x : {spine.left() + 20, spine.right() - 32})
        painter.drawRect(QRectF(x, spine.top() + 5, 11, spine.height() - 10));
    painter.setBrush(QColor(255, 255, 255, 120));
    painter.drawRoundedRect(QRectF(spine.left() + 44, spine.center().y() - 9, 30, 18), 4, 4);
}

void paintStrap(QPainter &painter, const BooksPalette &palette)
{
    const QRectF band(110, 34, 38, 200);
    QLinearGradient shade(band.left(), 0, band.right(), 0);
    shade.setColorAt(0, palette.strap.darker(118));
    shade.setColorAt(0.45, palette.strap.lighter(112));
    shade.setColorAt(1, palette.strap.darker(125));
    painter.setPen(QPen(palette.strap.darker(230), 6));
    painter.setBrush(shade);
    painter.drawRoundedRect(band, 7, 7);

    // Buckle: a metal frame with its prong across the strap.
    const QRectF frame(96, 112, 66, 48);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(palette.buckle.darker(190), 17, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    painter.drawRoundedRect(frame, 8, 8);
    painter.setPen(QPen(palette.buckle, 10, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    painter.drawRoundedRect(frame, 8, 8);
    painter.setPen(QPen(palette.buckle.darker(150), 7, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(frame.center().x(), frame.top() + 4), QPointF(frame.center().x(), frame.bottom() - 4));
}

} // namespace

BooksPalette archiveBooks()
{
    return {{QColor(156, 86, 190), QColor(44, 132, 220), QColor(46, 180, 98)},
            QColor(140, 90, 46), QColor(244, 198, 40)};
}

BooksPalette programBooks()
{
    return {{QColor(255, 178, 72), QColor(250, 136, 28), QColor(226, 98, 14)},
            QColor(250, 240, 218), QColor(214, 218, 226)};
}

QImage drawBooks(int size, const BooksPalette &palette)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / grid, size / grid);

    // Bottom book first, so each book above overlaps the one below.
    paintBook(painter, QRectF(22, 166, 212, 62), palette.covers[2]);
    paintBook(painter, QRectF(34, 106, 196, 62), palette.covers[1]);
    paintBook(painter, QRectF(48, 46, 176, 62), palette.covers[0]);
    paintStrap(painter, palette);
    return image;
}
