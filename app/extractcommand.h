#ifndef EXTRACTCOMMAND_H
#define EXTRACTCOMMAND_H

#include "consoleoutput.h"

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

// halcyon --extract ARCHIVE [DIRECTORY]: the backup back out, proven; a line saying where
// it went, or why it did not. On a terminal a progress line for archives over 1 GiB.
class ExtractCommand
{
public:
    ExtractCommand();
    int exec(const QString &archivePath, const QString &directory);

private:
    void showProgress(qint64 done, qint64 total);

    ConsoleOutput m_outDevice{stdout};
    ConsoleOutput m_errDevice{stderr};
    QTextStream m_out{&m_outDevice};
    QTextStream m_err{&m_errDevice};
    QElapsedTimer m_started;
    qint64 m_shownAt = -1;
};

#endif // EXTRACTCOMMAND_H
