#ifndef FILENAMECODEC_H
#define FILENAMECODEC_H

#include <QByteArray>
#include <QString>
#include <QTextCodec>

// A file name on Linux is bytes, not text. This codec reads them as UTF-8 and keeps each
// byte that is not part of valid UTF-8 as a lone surrogate U+DC80..U+DCFF (as Python's
// "surrogateescape" does), which it writes back as that byte. As the locale's codec it lets
// QDir list, and QFile open, every name, and gives back the very bytes it was given.
class FileNameCodec : public QTextCodec
{
public:
    // Makes it the locale's codec (Linux; elsewhere nothing): once, before anything touches
    // files, and again at no cost.
    static void install();

    // The bytes of a file's bare name as an entry of an archive stores them, and whether
    // they are to be marked as UTF-8 (non-ASCII and valid UTF-8).
    static QByteArray entryName(const QString &fileName);
    static bool isUtf8Name(const QByteArray &name);

    // Of an escaped byte: true, with the byte.
    static bool isEscapedByte(char32_t codePoint, uchar *byte);

    QByteArray name() const override;
    int mibEnum() const override;

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override;
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override;
};

#endif // FILENAMECODEC_H
