#include "pictures.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>
#include <QVector3D>
#include <QVector>

#include <algorithm>
#include <random>

namespace {

// minstd_rand's sequence is fixed by the standard, unlike the distributions,
// so the pictures come out the same with every compiler.
class Noise {
public:
    explicit Noise(unsigned seed) : m_engine(seed) {}
    double unit() { return double(m_engine() - 1) / double(std::minstd_rand::max() - 1); }
    double between(double low, double high) { return low + (high - low) * unit(); }

private:
    std::minstd_rand m_engine;
};

struct Facet {
    QPolygonF outline;
    double light;
};

QVector<QVector3D> jitteredGrid(int columns, int rows, int width, int height, Noise &noise)
{
    const double cellW = double(width) / (columns - 1);
    const double cellH = double(height) / (rows - 1);
    QVector<QVector3D> points;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            double x = i * cellW, y = j * cellH;
            // Border points only slide along their edge, so the facets cover the picture.
            if (i > 0 && i < columns - 1)
                x += noise.between(-0.32, 0.32) * cellW;
            if (j > 0 && j < rows - 1)
                y += noise.between(-0.32, 0.32) * cellH;
            points.append(QVector3D(float(x), float(y), float(noise.between(0.0, 150.0))));
        }
    }
    return points;
}

Facet facet(const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    static const QVector3D sun = QVector3D(-0.45f, -0.55f, 0.70f).normalized();
    QVector3D normal = QVector3D::crossProduct(b - a, c - a).normalized();
    if (normal.z() < 0)
        normal = -normal;
    QPolygonF outline;
    outline << a.toPointF() << b.toPointF() << c.toPointF();
    return {outline, double(QVector3D::dotProduct(normal, sun))};
}

QVector<Facet> triangulate(const QVector<QVector3D> &points, int columns, int rows)
{
    QVector<Facet> facets;
    for (int j = 0; j + 1 < rows; ++j) {
        for (int i = 0; i + 1 < columns; ++i) {
            const QVector3D &tl = points[j * columns + i], &tr = points[j * columns + i + 1];
            const QVector3D &bl = points[(j + 1) * columns + i], &br = points[(j + 1) * columns + i + 1];
            if ((i + j) % 2 == 0) {
                facets << facet(tl, tr, br) << facet(tl, br, bl);
            } else {
                facets << facet(tl, tr, bl) << facet(tr, br, bl);
            }
        }
    }
    return facets;
}

int clampByte(double value)
{
    return std::clamp(int(value + 0.5), 0, 255);
}

// Streaks along the strip, like brushed metal: per-pixel noise averaged over a run of the row.
void brushTexture(QImage &image, Noise &noise)
{
    const int radius = 14;
    for (int y = 0; y < image.height(); ++y) {
        QVector<double> row(image.width());
        for (double &v : row)
            v = noise.between(-1.0, 1.0);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        double sum = 0;
        for (int x = -radius; x <= radius; ++x)
            sum += row[std::clamp(x, 0, image.width() - 1)];
        for (int x = 0; x < image.width(); ++x) {
            const double streak = 13.0 * sum / (2 * radius + 1) + noise.between(-2.5, 2.5);
            const int grey = clampByte(qRed(line[x]) + streak);
            line[x] = qRgb(grey, grey, grey);
            sum += row[std::min(x + radius + 1, image.width() - 1)] - row[std::max(x - radius, 0)];
        }
    }
}

} // namespace

QImage drawBackground(int width, int height)
{
    const int columns = 9, rows = 6;
    Noise noise(20240307);
    const QVector<Facet> facets = triangulate(jitteredGrid(columns, rows, width, height, noise), columns, rows);
    double darkest = 1, brightest = -1;
    for (const Facet &f : facets) {
        darkest = std::min(darkest, f.light);
        brightest = std::max(brightest, f.light);
    }

    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(244, 244, 245));
    QPainter painter(&image);
    // No antialiasing: neighbouring facets must meet without a seam.
    painter.setPen(Qt::NoPen);
    for (const Facet &f : facets) {
        const double t = (f.light - darkest) / std::max(brightest - darkest, 1e-6);
        const double fade = 1.0 - f.outline.boundingRect().center().y() / height;
        const int grey = clampByte(235 + 15 * t + 3 * fade);
        painter.setBrush(QColor(grey, grey, std::min(grey + 1, 255)));
        painter.drawPolygon(f.outline);
    }
    return image;
}

QImage drawTitle(int width, int height, const QString &fontFamily)
{
    QImage image(width, height, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        QLinearGradient shade(0, 0, 0, height);
        shade.setColorAt(0, QColor(236, 236, 236));
        shade.setColorAt(1, QColor(214, 214, 214));
        painter.fillRect(image.rect(), shade);
    }
    Noise noise(36);
    brushTexture(image, noise);

    QPainter painter(&image);
    painter.setPen(QColor(250, 250, 250));
    painter.drawLine(0, 0, width, 0);
    painter.setPen(QColor(178, 178, 178));
    painter.drawLine(0, height - 1, width, height - 1);

    QFont name(fontFamily);
    name.setPixelSize(22);
    name.setBold(true);
    QFont motto(fontFamily);
    motto.setPixelSize(18);
    const QString nameText = QStringLiteral("Halcyon压缩");
    const QString mottoText = QStringLiteral("无人值守自动压缩程序");
    const int gap = 26;
    const QFontMetrics nameMetrics(name), mottoMetrics(motto);
    const int textWidth = nameMetrics.horizontalAdvance(nameText) + gap + mottoMetrics.horizontalAdvance(mottoText);
    const int left = (width - textWidth) / 2;
    const int baseline = (height + nameMetrics.ascent() - nameMetrics.descent()) / 2;

    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const QColor &ink : {QColor(255, 255, 255, 150), QColor(Qt::black)}) {
        const int lift = ink == Qt::black ? 0 : 1; // a pale copy one pixel lower engraves the text
        painter.setPen(ink);
        painter.setFont(name);
        painter.drawText(left, baseline + lift, nameText);
        painter.setFont(motto);
        painter.drawText(left + nameMetrics.horizontalAdvance(nameText) + gap, baseline + lift, mottoText);
    }
    return image;
}
