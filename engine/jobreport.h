#ifndef JOBREPORT_H
#define JOBREPORT_H

#include "archiveoutcome.h"
#include "systemlog.h"

#include <QString>

// One job as a whole, once it has ended: what --run's exit code and the system log's
// record of the job's end (100) are made of.
struct JobReport
{
    QString sourceDir;
    QString outputDir; // ending in "/"
    bool sourceFound = true; // the source directory existed
    int found = 0;           // backups met by the walk
    int written = 0;
    int unchanged = 0;
    int failed = 0; // archives and unreadable directories
    qint64 bytesRead = 0;
    qint64 bytesWritten = 0;
    double seconds = 0;
    // It ran nothing: another job writes into the output directory, or its lock there
    // could not be taken over (outputBusyReason says which).
    bool outputBusy = false;
    QString outputBusyReason;
    // Ended before its end (the window closed, or memory ran out outside any archive).
    bool aborted = false;

    void add(const ArchiveOutcome &outcome);
    bool nothingFound() const { return found == 0; }
    SystemLog::Type logType() const;
    QString logText() const;
};

#endif // JOBREPORT_H
