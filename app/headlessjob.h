#ifndef HEADLESSJOB_H
#define HEADLESSJOB_H

#include "consoleoutput.h"

#include <QString>
#include <QTextStream>

class CompressTask;
struct ArchiveOutcome;
struct JobReport;

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

    // The archive's line: its path, then ok, unchanged, or the failure and why.
    static QString lineFor(const ArchiveOutcome &outcome);
    static ExitCode exitCodeFor(const JobReport &report);

private:
    void connectTo(CompressTask &task);

    ConsoleOutput m_outDevice{stdout};
    ConsoleOutput m_errDevice{stderr};
    QTextStream m_out{&m_outDevice};
    QTextStream m_err{&m_errDevice};
};

#endif // HEADLESSJOB_H
