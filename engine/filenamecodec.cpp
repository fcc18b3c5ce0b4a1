#include "filenamecodec.h"

#include <QFile>

namespace {

// Not UTF-8's 106: Qt's directory listing would then check the names as plain UTF-8 and
// pass over the others. Any number no registered character set has.
constexpr int kMib = 0x48430106;
constexpr char16_t kEscapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at in, 0 where none starts there.
int validSequence(const uchar *in, int left)
{
    const uchar lead = in[0];
    if (lead < 0x80)
        return 1;
    int length = 0;
    char32_t least = 0;
    char32_t codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, least = 0x80, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, least = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, least = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (length > left)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((in[i] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (in[i] & 0x3F);
    }
    // Overlong forms, surrogates and what lies beyond Unicode are not UTF-8.
    if (codePoint < least || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

void FileNameCodec::install()
{
#ifdef Q_OS_LINUX
    // Qt owns and deletes the codecs it knows of.
    static FileNameCodec *const codec = [] {
        auto *created = new FileNameCodec;
        QTextCodec::setCodecForLocale(created);
        return created;
    }();
    Q_UNUSED(codec);
#endif
}

QByteArray FileNameCodec::entryName(const QString &fileName)
{
#ifdef Q_OS_LINUX
    install();
    return QFile::encodeName(fileName);
#else
    return fileName.toUtf8();
#endif
}

bool FileNameCodec::isUtf8Name(const QByteArray &name)
{
    const auto *bytes = reinterpret_cast<const uchar *>(name.constData());
    bool ascii = true;
    for (int at = 0; at < name.size();) {
        const int length = validSequence(bytes + at, name.size() - at);
        if (length == 0)
            return false;
        ascii = ascii && length == 1;
        at += length;
    }
    return !ascii;
}

bool FileNameCodec::isEscapedByte(char32_t codePoint, uchar *byte)
{
    if (codePoint < kEscapeBase + 0x80 || codePoint > kEscapeBase + 0xFF)
        return false;
    *byte = uchar(codePoint - kEscapeBase);
    return true;
}

QByteArray FileNameCodec::name() const
{
    return QByteArrayLiteral("UTF-8 (bytes kept)");
}

int FileNameCodec::mibEnum() const
{
    return kMib;
}

// Every byte decodes: nothing is invalid, nothing is held back for a next call.
QString FileNameCodec::convertToUnicode(const char *in, int length, ConverterState *) const
{
    QString text;
    text.reserve(length);
    const auto *bytes = reinterpret_cast<const uchar *>(in);
    for (int at = 0; at < length;) {
        const int sequence = validSequence(bytes + at, length - at);
        if (sequence == 0) {
            text.append(QChar(char16_t(kEscapeBase + bytes[at])));
            ++at;
        } else {
            text.append(QString::fromUtf8(in + at, sequence));
            at += sequence;
        }
    }
    return text;
}

// An escaped byte becomes that byte again; a surrogate that stands for nothing becomes '?',
// as in Qt's UTF-8. A high surrogate at the end of a piece waits for the next one.
QByteArray FileNameCodec::convertFromUnicode(const QChar *in, int length, ConverterState *state) const
{
    QByteArray bytes;
    bytes.reserve(length * 3);
    QChar pending;
    if (state && state->remainingChars > 0) {
        pending = QChar(ushort(state->state_data[0]));
        state->remainingChars = 0;
    }
    const auto appendPair = [&bytes](QChar high, QChar low) {
        const QChar pair[2] = {high, low};
        bytes.append(QString(pair, 2).toUtf8());
    };
    for (int i = 0; i < length; ++i) {
        const QChar c = in[i];
        if (!pending.isNull()) {
            if (c.isLowSurrogate()) {
                appendPair(pending, c);
                pending = QChar();
                continue;
            }
            bytes.append('?');
            pending = QChar();
        }
        uchar escaped = 0;
        if (c.isHighSurrogate()) {
            pending = c;
        } else if (isEscapedByte(c.unicode(), &escaped)) {
            bytes.append(char(escaped));
        } else if (c.isSurrogate()) {
            bytes.append('?');
            if (state)
                ++state->invalidChars;
        } else if (c.unicode() < 0x80) {
            bytes.append(char(c.unicode()));
        } else {
            bytes.append(QString(c).toUtf8());
        }
    }
    if (!pending.isNull()) {
        if (state) {
            state->state_data[0] = pending.unicode();
            state->remainingChars = 1;
        } else {
            bytes.append('?');
        }
    }
    return bytes;
}
