#ifndef VERIFYJOB_H
#define VERIFYJOB_H

#include "systemlog.h"

#include <QHash>
#include <QString>

#include <functional>

// Proves every archive (*.rar) of a directory from the disk, on whatever thread calls run().
// Given the source tree the archives were made from, a damaged archive whose backup still
// stands there (the one the job would archive under that name, with the name, size and exact
// time the archive records) is written anew from it at once, under the output directory's
// lock; one without such a backup is left exactly as it is. It tells the system's log of each
// damaged archive (109) and of the end (108).
class VerifyJob
{
public:
    struct Outcome
    {
        QString archivePath;
        bool whole = false;
        QString reason; // why it is not whole
        // For a damaged one: the backup it was written anew from, or why it was not.
        bool repaired = false;
        QString backupPath;
        QString notRepairedReason;

        SystemLog::Event logEvent() const { return SystemLog::ArchiveDamaged; }
        QString logText() const;
    };

    struct Report
    {
        QString directory;
        bool directoryFound = true;
        int archives = 0;
        int whole = 0;
        int damaged = 0; // repaired or not
        int repaired = 0;
        double seconds = 0;

        SystemLog::Type logType() const;
        QString logText() const;
    };

    using Archived = std::function<void(const Outcome &outcome)>;

    // sourceDir empty: nothing is repaired.
    VerifyJob(const QString &directory, const QString &sourceDir, const QString &suffix, Archived archived);
    Report run();

private:
    Outcome verify(const QString &archivePath);
    void repair(Outcome &outcome, const QString &name, quint64 size, qint64 modified);
    QString backupFor(const QString &archivePath);

    const QString m_directory; // ending in "/"
    const QString m_sourceDir;
    const QString m_suffix;
    const Archived m_archived;
    // Each archive's backup, as the job maps them: walked once, when the first repair needs it.
    QHash<QString, QString> m_backups;
    bool m_walked = false;
};

#endif // VERIFYJOB_H
