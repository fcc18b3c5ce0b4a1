#include "stylesheet.h"

#include <QFile>
#include <QTextCodec>

QString loadStyleSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();

    const QByteArray bytes = file.readAll();
    // The operator's skin.css is GBK whatever it contains; no BOM sniffing.
    QTextCodec *codec = QTextCodec::codecForName("GBK");
    if (!codec)
        return QString();
    return codec->toUnicode(bytes);
}
