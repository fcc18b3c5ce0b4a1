#ifndef COMPRESSTASK_H
#define COMPRESSTASK_H

#include "dailylatch.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QTime>
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
    using Clock = std::function<QTime()>;

    explicit CompressTask(QObject *parent = nullptr);
    // Ends a running job (discarding the archive in progress) and waits for the thread.
    ~CompressTask() override;

    void startTask(const QString &sourceDir, const QString &suffix, bool unattended,
                   const QString &runTime, const QString &outputDir);
    void stopTask();
    int isIdle() const;

    // Ends whatever runs, between two pieces of a copy or within a pause, and waits.
    // The archive in progress is discarded like a failed one; older archives stay.
    void abort();

    // The unattended loop reads the time of day through this; tests drive it.
    void setClock(Clock clock);

    // Archives of the latest job that already held their backups and were left as they were.
    int unchangedCount() const { return m_unchanged; }

signals:
    void sendMessage(const QString &filePath);
    void sendProgress(int value, double bytes);
    void sendNoDirMessage(const QString &filePath);
    void sendNotFoundMessage();
    void sendTaskFinished();
    // The archive just announced by sendMessage was not written; no older one was touched.
    void sendFailed(const QString &archivePath);
    // The archive just announced by sendMessage already holds its backup as it is: nothing
    // was written. megabytes: the archive's size in MiB.
    void sendUnchanged(const QString &archivePath, double megabytes);

protected:
    void run() override;

private:
    void runNow();
    void runUnattended();
    void pause();

    void scanAndArchive(const QString &directory, const QString &suffix);
    void archiveMatch(const QString &filePath, const QString &suffix);
    bool archiveFile(QString archivePath, QString sourcePath);
    bool aborted() const { return m_abortRequested; }

    // Job, written by startTask while the thread is not running, then owned by the worker.
    QString m_sourceDir;
    QString m_suffix;
    qint64 m_bytesCopied = 0;
    qint64 m_sourceSize = 0;
    std::atomic<int> m_idle{1};
    std::atomic<int> m_unchanged{0};
    bool m_found = false;
    bool m_unattended = false;
    std::atomic<bool> m_stopRequested{false};
    QString m_outputDir;
    DailyLatch m_latch;
    QString m_archivePath;

    // Shared: the abort request and the pause it cuts short.
    std::atomic<bool> m_abortRequested{false};
    QMutex m_pauseMutex;
    QWaitCondition m_wakeUp;

    Clock m_clock;
};

#endif // COMPRESSTASK_H
