#ifndef GBKTEXT_H
#define GBKTEXT_H

#include <QString>

#include <string>

// The two path files hold GBK bytes, whatever the system's own encoding is.
std::string toGbk(const QString &text);
QString fromGbk(const std::string &bytes);

#endif // GBKTEXT_H
