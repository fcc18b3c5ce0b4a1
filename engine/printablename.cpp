#include "printablename.h"

#include "filenamecodec.h"

namespace {

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

QString escaped(uint value, int digits, char prefix)
{
    return QStringLiteral("\\") + QLatin1Char(prefix)
        + QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0'));
}

} // namespace

QString PrintableName::text(const QString &name)
{
    QString printable;
    printable.reserve(name.size());
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        uchar byte = 0;
        if (c.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            printable.append(c).append(name.at(++i));
        } else if (isControl(c.unicode()) || FileNameCodec::isEscapedByte(c.unicode(), &byte)) {
            printable.append(escaped(isControl(c.unicode()) ? c.unicode() : byte, 2, 'x'));
        } else if (c.isSurrogate()) {
            // Half a pair, as a Windows name may hold.
            printable.append(escaped(c.unicode(), 4, 'u'));
        } else {
            printable.append(c);
        }
    }
    return printable;
}
