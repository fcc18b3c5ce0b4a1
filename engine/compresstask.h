#ifndef COMPRESSTASK_H
#define COMPRESSTASK_H

#include "dailyschedule.h"

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QDateTime>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

class OutputLock;

// The one worker thread: archives every file of a tree whose name ends in a suffix,
// each into a ZIP archive of its own, at once or every day at an "h:mm" minute.
// It talks back only through its signals.
class CompressTask : public QThread
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    explicit CompressTask(QObject *parent = nullptr);
    // Ends a running job (discarding the archive in progress) and waits for the thread.
    ~CompressTask() override;

    // False when the system gave no thread for the job (out of memory): nothing runs.
    bool startTask(const QString &sourceDir, const QString &suffix, bool unattended,
                   const QString &runTime, const QString &outputDir);
    void stopTask();
    int isIdle() const;

    // Ends whatever runs, between two pieces of a copy or within a pause, and waits.
    // The archive in progress is discarded like a failed one; older archives stay.
    void abort();

    // The unattended loop reads the local time through this; tests drive it.
    void setClock(Clock clock);
    // The next unattended start resumes a schedule that last ran lastSlot (before this
    // program started): a slot that passed since runs once, kCatchUpDelaySecs after it.
    void resumeFrom(const QDateTime &lastSlot);
    static constexpr int kCatchUpDelaySecs = 60;

    // The file that keeps two jobs from writing into one output directory at once.
    static QString lockPath(const QString &outputDir);
    // True while another job (of this or another process) holds that lock.
    static bool outputBusy(const QString &outputDir);

    // Archives of the latest job that already held their backups and were left as they were.
    int unchangedCount() const { return m_totals.unchanged; }

signals:
    void sendMessage(const QString &filePath);
    void sendProgress(int value, double bytes);
    void sendNoDirMessage(const QString &filePath);
    void sendNotFoundMessage();
    void sendTaskFinished();
    // The archive just announced by sendMessage was not written, for reason; no older one
    // was touched.
    void sendFailed(const QString &archivePath, const QString &reason);
    // The schedule's last slot, run or passed, to be kept across restarts.
    void sendLastSlot(const QDateTime &slot);
    // A job to run now found another job writing into its output directory, or a lock
    // there that it could not take over (reason says which); it ran nothing.
    void sendOutputBusy(const QString &outputDir, const QString &reason);
    // The archive just announced by sendMessage already holds its backup as it is: nothing
    // was written. megabytes: the archive's size in MiB.
    void sendUnchanged(const QString &archivePath, double megabytes);

protected:
    void run() override;

private:
    void runNow();
    void runUnattended();
    void startSchedule();
    bool holdOutput();
    void keepOutput();
    void fail(const QString &sourcePath, const QString &reason);
    void removeLeftovers();
    void pause();

    void runJob();
    void reportJobEnd();
    void scanAndArchive(const QString &directory, const QString &suffix);
    void archiveMatch(const QString &filePath, const QString &suffix);
    bool archiveFile(QString archivePath, QString sourcePath, QString *reason);
    bool aborted() const { return m_abortRequested; }

    // Job, written by startTask while the thread is not running, then owned by the worker.
    QString m_sourceDir;
    QString m_suffix;
    qint64 m_bytesCopied = 0;
    qint64 m_sourceSize = 0;
    std::atomic<int> m_idle{1};
    bool m_found = false;
    bool m_unattended = false;
    std::atomic<bool> m_stopRequested{false};
    QString m_outputDir;
    QTime m_runTime;
    QDateTime m_resumeFrom;
    DailySchedule m_schedule;
    // Held from the job's first archive to its end.
    std::unique_ptr<OutputLock> m_outputLock;
    bool m_outputBusy = false;
    QString m_outputBusyReason;
    QStringList m_leftovers; // temporaries in the output directory when the lock was taken

    // What the job's end reports to the system's log.
    struct Totals
    {
        int found = 0; // backups met by the walk
        int written = 0;
        int failed = 0;
        int unchanged = 0;
        qint64 bytesRead = 0;
        qint64 bytesWritten = 0;
    } m_totals;
    qint64 m_archiveBytes = 0; // of the archive being written
    QString m_archivePath;

    // Shared: the abort request and the pause it cuts short.
    std::atomic<bool> m_abortRequested{false};
    QMutex m_pauseMutex;
    QWaitCondition m_wakeUp;

    Clock m_clock;
};

#endif // COMPRESSTASK_H
