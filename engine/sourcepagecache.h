#ifndef SOURCEPAGECACHE_H
#define SOURCEPAGECACHE_H

#include <deque>
#include <vector>

#include <QtGlobal>

class QFile;

// Keeps a reader of one large file from pushing everyone else's files out of the page cache
// (the database beside the job lives on it): the pages the reader brings in are dropped again
// behind it, and those that were cached before it came are kept. Before a range is read it
// asks which of its pages are resident (mincore on a mapping), a range ahead of the reader, so
// that the kernel's read-ahead has not yet reached it; once the reader is past the range, the
// pages that were not resident are dropped (POSIX_FADV_DONTNEED). What stays cached beyond
// what was is about two ranges. Linux; elsewhere it does nothing.
class SourcePageCache
{
public:
    // The bytes sampled and dropped at a time.
    static constexpr qint64 kRange = 8 << 20;

    // file: open for reading, read from its start on.
    explicit SourcePageCache(QFile &file);
    // Drops what is still held of what the reader brought in.
    ~SourcePageCache();
    SourcePageCache(const SourcePageCache &) = delete;
    SourcePageCache &operator=(const SourcePageCache &) = delete;

    // Everything before offset has been read and taken out of the page cache's hands.
    void readUpTo(qint64 offset);

    // Windows: file reopened for a sequential read (FILE_FLAG_SEQUENTIAL_SCAN), whose pages
    // the cache manager then reuses first; it stays as it was where that cannot be had.
    // File names are then lost: keep the path.
    static void preferSequential(QFile &file);

    // Off: the page cache is left to the system (the benchmark's baseline).
    static void setEnabled(bool enabled);

private:
    struct Range
    {
        qint64 start = 0;
        std::vector<unsigned char> resident; // one a page, as mincore gives them
    };

    void sampleUpTo(qint64 end);
    void drop(const Range &range) const;

    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_sampledEnd = 0;
    std::deque<Range> m_ranges; // sampled, not yet dropped; oldest first
};

#endif // SOURCEPAGECACHE_H
