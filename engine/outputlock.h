#ifndef OUTPUTLOCK_H
#define OUTPUTLOCK_H

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <functional>

// Keeps two jobs (of this process, another one, or another host's on a share) from writing
// into one output directory at once: the file ".halcyon.lock" there holds its job's pid,
// program and host name, one a line, and the job refreshes its modification time while it
// runs. Other accounts may write that directory too, so whatever stands at the name stops
// no job for long: it is read only as a regular file, never through a link and never
// waiting; anything else there is no lock and is removed (the entry itself, never what it
// points to). A lock is alive while its process runs on this host, or, for another host's
// lock and one that cannot be read, while it was refreshed in the last kStaleSecs.
class OutputLock
{
public:
    // The wall clock (UTC) the lock's refreshes are judged by; tests drive it.
    using Clock = std::function<QDateTime()>;

    enum class Outcome {
        Held,
        // A live lock of another job, or something at the name that cannot be removed.
        Busy,
        // No lock can be made in the directory at all (it is missing or cannot be written).
        Unavailable,
    };

    explicit OutputLock(const QString &outputDir, Clock clock = {});
    ~OutputLock();
    OutputLock(const OutputLock &) = delete;
    OutputLock &operator=(const OutputLock &) = delete;

    // Decides within seconds; never waits for another job.
    Outcome tryLock();
    // Busy: whose the lock is, or why the name cannot be taken over; Unavailable: the
    // system's reason.
    QString reason() const { return m_reason; }
    // Held: what stood at the name, whose and why it was not alive; empty when it was free.
    QString takenOver() const { return m_takenOver; }
    bool isHeld() const;
    // Touches the lock once kRefreshSecs have passed since the last touch; cheap otherwise,
    // so a job may call it as often as it likes.
    void refresh();
    void unlock();

    static QString path(const QString &outputDir);
    // True when tryLock would find a live lock there; changes nothing.
    static bool busy(const QString &outputDir);

    static constexpr int kRefreshSecs = 30;
    static constexpr int kStaleSecs = 600;

private:
    QString m_path;
    Clock m_clock;
    qintptr m_handle;
    QDateTime m_lastRefresh;
    QString m_reason;
    QString m_takenOver;
};

#endif // OUTPUTLOCK_H
