#ifndef BACKUPJOB_H
#define BACKUPJOB_H

#include "archiveoutcome.h"
#include "jobreport.h"
#include "jobsettings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class OutputLock;

// One job, on whatever thread calls run(): walks the source tree, holds the output
// directory's lock from the first archive to the end, removes what an interrupted job left,
// writes each backup's archive (or leaves one that already holds it) and tallies the job.
// Each archive is announced, then reported once as an ArchiveOutcome; the job ends with a
// JobReport. It tells the system's log of each failure and of the job's end. It reads
// halcyon.ini in the working directory as it starts, and after a job in which nothing failed
// leaves halcyon-last-success.txt in the output directory.
class BackupJob
{
public:
    struct Hooks
    {
        // An archive (or an unreadable directory) begins: it gets a row before anything else.
        // Gives the index of its outcome.
        std::function<int(const QString &archivePath)> announced;
        // Of the archive announced last: percent of its source read, its size in MiB.
        std::function<void(int percent, double mebibytes)> progress;
        std::function<void(const QString &directory)> sourceMissing;
        std::function<void(const ArchiveOutcome &outcome)> archived;
        // True ends the job between two pieces, discarding the archive in progress.
        std::function<bool()> aborted;
        // Set for a job that waits while another job holds the output directory (a daily
        // one): asked in each pause of the wait, true gives up. Null: the job gives up at once.
        std::function<bool()> stopWaiting;
        std::function<void()> pause;
    };

    BackupJob(const QString &sourceDir, const QString &suffix, const QString &outputDir, Hooks hooks);
    ~BackupJob();

    JobReport run();
    // The archive of a backup, straight in the output directory (ending in "/").
    static QString archivePathFor(const QString &outputDir, const QString &sourcePath, const QString &suffix);

private:
    void archiveMatch(const QString &filePath);
    void unreadableDirectory(const QString &directory, const QString &reason);
    bool holdOutput();
    void keepOutput();
    void removeLeftovers(const QString &finalPath);
    ArchiveOutcome announce(const QString &archivePath, const QString &sourcePath);
    void finish(ArchiveOutcome outcome);
    bool writeArchive(ArchiveOutcome &outcome, qint64 sourceSize);
    void markSuccess();
    bool stopped() const;

    const QString m_sourceDir;
    const QString m_suffix;
    const QString m_outputDir;
    const Hooks m_hooks;
    JobReport m_report;
    JobSettings m_settings;
    // Held from the job's first archive to its end.
    std::unique_ptr<OutputLock> m_outputLock;
    QStringList m_leftovers; // temporaries in the output directory when the lock was taken
};

#endif // BACKUPJOB_H
