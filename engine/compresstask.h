#ifndef COMPRESSTASK_H
#define COMPRESSTASK_H

#include "archiveoutcome.h"
#include "dailyschedule.h"
#include "jobreport.h"

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QDateTime>
#include <QWaitCondition>

#include <atomic>
#include <functional>

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

    // The latest job as a whole, once the thread has ended (wait()).
    const JobReport &lastReport() const { return m_report; }

signals:
    void sendMessage(const QString &filePath);
    void sendProgress(int value, double bytes);
    void sendNoDirMessage(const QString &filePath);
    void sendNotFoundMessage();
    void sendTaskFinished();
    // What became of the archive announced by sendMessage (or of a directory that could not
    // be read), after its last sendProgress.
    void sendOutcome(const ArchiveOutcome &outcome);
    // The schedule's last slot, run or passed, to be kept across restarts.
    void sendLastSlot(const QDateTime &slot);
    // A job to run now found another job writing into its output directory, or a lock
    // there that it could not take over (reason says which); it ran nothing.
    void sendOutputBusy(const QString &outputDir, const QString &reason);

protected:
    void run() override;

private:
    void runNow();
    void runUnattended();
    void startSchedule();
    void runJob();
    void pause();
    bool aborted() const { return m_abortRequested; }

    // Job, written by startTask while the thread is not running, then owned by the worker.
    QString m_sourceDir;
    QString m_suffix;
    std::atomic<int> m_idle{1};
    bool m_found = false; // a backup was met since startTask
    bool m_unattended = false;
    std::atomic<bool> m_stopRequested{false};
    QString m_outputDir;
    QTime m_runTime;
    QDateTime m_resumeFrom;
    DailySchedule m_schedule;
    JobReport m_report;
    int m_announced = 0; // archives announced since the task was made

    // Shared: the abort request and the pause it cuts short.
    std::atomic<bool> m_abortRequested{false};
    QMutex m_pauseMutex;
    QWaitCondition m_wakeUp;

    Clock m_clock;
};

#endif // COMPRESSTASK_H
