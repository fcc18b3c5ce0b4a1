#ifndef GBKTEXT_H
#define GBKTEXT_H

#include <QString>

#include <string>

class QTextCodec;

// The two path files and skin.css hold GBK bytes, whatever the system's own encoding is.
// Null where Qt has no GBK codec.
QTextCodec *gbkCodec();
std::string toGbk(const QString &text);
QString fromGbk(const std::string &bytes);

#endif // GBKTEXT_H
