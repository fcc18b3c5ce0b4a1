#pragma once

#include <QColor>
#include <QImage>

// Window background: light grey low-poly facets.
QImage drawBackground(int width, int height);
// Banner strip with the product name; fontFamily must have CJK glyphs.
QImage drawTitle(int width, int height, const QString &fontFamily);

QImage drawStartIcon(int size);
QImage drawStopIcon(int size);

struct BooksPalette {
    QColor covers[3]; // top, middle, bottom book
    QColor strap;
    QColor buckle;
};

BooksPalette archiveBooks(); // the coloured stack shown in the log rows
BooksPalette programBooks(); // the orange stack of the program icon
QImage drawBooks(int size, const BooksPalette &palette);
