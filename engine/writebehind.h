#ifndef WRITEBEHIND_H
#define WRITEBEHIND_H

#include <QString>

class QFileDevice;

// Keeps a file being written from filling the page cache with its dirty pages, which would
// push everyone else's cached files out: each range written is pushed to the disk behind the
// writer (sync_file_range) and, once there, dropped from the cache (POSIX_FADV_DONTNEED).
// About three ranges stay cached; the writer's own final sync is unchanged. Linux; elsewhere
// it does nothing.
class WriteBehind
{
public:
    static constexpr qint64 kRange = 8 << 20;

    // file: open for writing, written from its start on.
    explicit WriteBehind(QFileDevice &file);

    // Everything before offset has been passed to the file. What a buffer still held then is
    // only synced and dropped a range later, or by the writer's final sync: nothing is lost.
    // False when the disk reported an error for what was written: the file is lost, and the
    // final sync would not report that error again.
    bool wroteUpTo(qint64 offset);
    // Why wroteUpTo failed, in the system's words.
    QString errorString() const { return m_error; }

    // Off: the page cache is left to the system (the benchmark's baseline).
    static void setEnabled(bool enabled);

private:
    bool sync(qint64 start, unsigned int flags);

    int m_fd = -1;
    qint64 m_started = 0; // its writing out started below this
    qint64 m_dropped = 0; // written out and dropped below this
    QString m_error;
};

#endif // WRITEBEHIND_H
