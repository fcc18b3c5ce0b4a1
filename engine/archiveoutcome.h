#ifndef ARCHIVEOUTCOME_H
#define ARCHIVEOUTCOME_H

#include "systemlog.h"

#include <QMetaType>
#include <QString>

// What became of one archive of a job (or of a directory of the tree that could not be
// read, which costs the archives of whatever it holds). Everyone who shows or counts a
// job's archives reads it: the window's row, --run's line, the system log, the job's tally.
struct ArchiveOutcome
{
    enum class Kind {
        Written,
        Unchanged, // it already held its backup as it is: nothing was written
        Failed,    // not written; no older archive of that name was touched
        UnreadableDirectory,
    };

    // The archive's announcement (sendMessage) since its task was made, counted from 0:
    // the window's row for it.
    int index = -1;
    Kind kind = Kind::Failed;
    // For an unreadable directory: that directory.
    QString archivePath;
    QString sourcePath;
    // Why it failed, in the system's words or the program's; empty otherwise.
    QString reason;
    qint64 bytesRead = 0;
    // The archive's size: what was written, or for an unchanged one what it already holds.
    qint64 bytesWritten = 0;
    // Failed because it would have taken the output volume below its reserve.
    bool reserveReached = false;

    bool failed() const { return kind == Kind::Failed || kind == Kind::UnreadableDirectory; }
    // The system log's record of a failure (101, 106, 107); nothing is logged of the others.
    SystemLog::Event logEvent() const;
    QString logText() const;
};

Q_DECLARE_METATYPE(ArchiveOutcome)

#endif // ARCHIVEOUTCOME_H
