#ifndef CONSOLEOUTPUT_H
#define CONSOLEOUTPUT_H

#include <QByteArray>
#include <QIODevice>

#include <cstdio>

// Standard output or error for UTF-8 text. Into a file or a pipe (a scheduler's
// "> result.txt", PowerShell, the journal) the bytes go as UTF-8 everywhere; a Windows
// console gets the text through WriteConsoleW, so the Chinese words show whatever its code
// page is (437 or 1252 would turn them into '?').
class ConsoleOutput : public QIODevice
{
public:
    explicit ConsoleOutput(std::FILE *stream);

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    bool writeToConsole(const QByteArray &utf8);

    std::FILE *m_stream;
    // The start of a character whose other bytes come with the next write.
    QByteArray m_partial;
};

#endif // CONSOLEOUTPUT_H
