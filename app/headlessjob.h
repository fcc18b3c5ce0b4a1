#ifndef HEADLESSJOB_H
#define HEADLESSJOB_H

#include "consoleoutput.h"

#include <QString>
#include <QTextStream>

class CompressTask;

// halcyon --run: the job of "立即执行" on the two saved paths of the working directory,
// with no window, for a scheduler to start while nobody is signed in. One line per archive
// on standard output; what went wrong as a whole on standard error and in the exit code.
class HeadlessJob
{
public:
    enum ExitCode {
        AllArchived = 0,
        SomeFailed = 1,
        NothingToDo = 2, // a path not saved, no source directory, no .bak file
        OutputBusy = 3,  // another job is writing into the output directory
    };

    HeadlessJob();
    int exec();

private:
    void connectTo(CompressTask &task);
    void endArchive();

    ConsoleOutput m_outDevice{stdout};
    ConsoleOutput m_errDevice{stderr};
    QTextStream m_out{&m_outDevice};
    QTextStream m_err{&m_errDevice};
    QString m_archive; // announced, not yet reported
    bool m_archiveFailed = false;
    bool m_archiveUnchanged = false;
    QString m_reason;
    int m_failed = 0;
    bool m_nothingToDo = false;
    bool m_busy = false;
};

#endif // HEADLESSJOB_H
