#include "consoleoutput.h"

#include <QString>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

namespace {

// How many bytes at the end of utf8 begin a character that is not complete yet.
int incompleteTail(const QByteArray &utf8)
{
    for (int back = 1; back <= 3 && back <= utf8.size(); ++back) {
        const uchar byte = uchar(utf8.at(utf8.size() - back));
        if ((byte & 0xC0) != 0x80) {
            const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            return length > back ? back : 0;
        }
    }
    return 0;
}

} // namespace

ConsoleOutput::ConsoleOutput(std::FILE *stream)
    : m_stream(stream)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 ConsoleOutput::writeData(const char *data, qint64 size)
{
    QByteArray utf8 = m_partial + QByteArray(data, int(size));
    const int tail = incompleteTail(utf8);
    m_partial = utf8.right(tail);
    utf8.chop(tail);
    if (!writeToConsole(utf8)) {
        if (std::fwrite(utf8.constData(), 1, size_t(utf8.size()), m_stream) != size_t(utf8.size()))
            return -1;
        std::fflush(m_stream);
    }
    return size;
}

bool ConsoleOutput::writeToConsole(const QByteArray &utf8)
{
#ifdef Q_OS_WIN
    const HANDLE handle = HANDLE(_get_osfhandle(_fileno(m_stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    const std::wstring text = QString::fromUtf8(utf8).toStdWString();
    DWORD written = 0;
    WriteConsoleW(handle, text.c_str(), DWORD(text.size()), &written, nullptr);
    return true;
#else
    Q_UNUSED(utf8);
    return false;
#endif
}
