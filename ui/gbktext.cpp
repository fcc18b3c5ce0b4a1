#include "gbktext.h"

#include <QByteArray>
#include <QTextCodec>

std::string toGbk(const QString &text)
{
    QTextCodec *codec = QTextCodec::codecForName("GBK");
    if (!codec)
        return std::string();
    const QByteArray bytes = codec->fromUnicode(text);
    // Up to the first zero byte, as a C string would end.
    return std::string(bytes.constData());
}

QString fromGbk(const std::string &bytes)
{
    QTextCodec *codec = QTextCodec::codecForName("GBK");
    if (!codec)
        return QString();
    return codec->toUnicode(bytes.data(), int(bytes.size()));
}
