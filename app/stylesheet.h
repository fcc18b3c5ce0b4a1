#ifndef STYLESHEET_H
#define STYLESHEET_H

#include <QString>

// Whole content of a GBK text file, or an empty string when it cannot be read.
QString loadStyleSheet(const QString &path);

#endif // STYLESHEET_H
