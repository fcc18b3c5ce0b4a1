#include "stylesheet.h"

#include "gbktext.h"

#include <QFile>
#include <QTextCodec>

QString loadStyleSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();

    const QByteArray bytes = file.readAll();
    // The operator's skin.css is GBK whatever it contains; no BOM sniffing.
    QTextCodec *codec = gbkCodec();
    if (!codec)
        return QString();
    return codec->toUnicode(bytes);
}
