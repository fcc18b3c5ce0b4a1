#include "gbktext.h"

#include <QByteArray>
#include <QTextCodec>

QTextCodec *gbkCodec()
{
    return QTextCodec::codecForName("GBK");
}

std::string toGbk(const QString &text)
{
    QTextCodec *codec = gbkCodec();
    if (!codec)
        return std::string();
    QByteArray bytes = codec->fromUnicode(text);
    // Up to the first zero byte, as a C string would end.
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return bytes.toStdString();
}

QString fromGbk(const std::string &bytes)
{
    QTextCodec *codec = gbkCodec();
    if (!codec)
        return QString();
    return codec->toUnicode(bytes.data(), int(bytes.size()));
}
