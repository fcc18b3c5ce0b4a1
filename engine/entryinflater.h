#ifndef ENTRYINFLATER_H
#define ENTRYINFLATER_H

#include <QMutex>
#include <QString>
#include <QVector>
#include <QWaitCondition>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;
class QThread;
class SourcePageCache;

// Gives back the bytes of an archive's one entry, proven: every byte inflated, and the size
// and CRC-32 the headers record compared with what the data give.
//
// With a block index (where the writer's independent 4 MiB blocks start) the entry is cut
// into segments, from one listed start to the next, which worker threads inflate side by
// side below normal priority: libdeflate for a segment of one block, zlib streaming into
// 4 MiB pieces for longer ones. The caller's thread does all the reading, hands the workers
// their compressed bytes and passes the output to the sink in order, as pigz does.
//
// The memory stays bounded whatever the entry's length: two segments more than there are
// workers are in flight. One of a single block holds its compressed bytes or its output, one
// being inflated both; a longer one is read 1 MiB at a time (two reads waiting at most) and
// its pieces wait for the sink, one more than there are workers in all. So at most
// (2 x workers + 2) x 4 MiB of blocks or pieces, 24 MiB on 2 CPUs (and 10 MiB of reads for
// longer segments); without a sink no output is kept beyond one piece per worker.
//
// Without an index (an older archive, another program's), or with one that does not fit the
// entry, one zlib stream is inflated on the caller's thread; a stored entry is copied. Either
// way the first failure in the entry's order is the reason, whatever the number of threads.
class EntryInflater
{
public:
    // What the headers say of the entry (ZipEntryReader::Entry's fields, copied).
    struct Entry
    {
        quint16 method = 0;           // 0 stored, 8 Deflate
        quint64 size = 0;             // uncompressed
        quint32 crc = 0;
        qint64 dataOffset = 0;        // the entry's first compressed byte in the file
        quint64 compressedSize = 0;
        quint32 blockStride = 0;      // 0: no block index
        int blockSizeLog2 = 0;
        QVector<quint64> blockStarts; // compressed offsets of blocks k, 2k, ... (block 0 not listed)
    };

    // Takes the entry's bytes, in order, on the caller's thread. Returning false ends the
    // inflate as failed, with reason (which it sets) as the errorString().
    using Sink = std::function<bool(const char *data, qint64 size, QString &reason)>;

    enum class Failure {
        None,
        Data,   // the archive's bytes are not what its headers say
        Read,   // the file could not be read
        Sink,   // the sink refused the bytes
        Memory, // out of memory
    };

    // The threads an inflate may use beside the caller's: the CPUs the process may use, as
    // many as the compressors; none on one CPU.
    static int defaultWorkers();

    // workers: threads beside the caller's; 0 inflates everything on the caller's thread.
    explicit EntryInflater(int workers = defaultWorkers());
    ~EntryInflater();
    EntryInflater(const EntryInflater &) = delete;
    EntryInflater &operator=(const EntryInflater &) = delete;

    // Inflates entry from file (open for reading, seekable) into sink; a null sink only
    // verifies. Threads are started and ended within the call.
    bool inflate(QIODevice &file, const Entry &entry, const Sink &sink = Sink());

    // Why the last inflate failed, saying where (byte offsets in the file) and which check;
    // empty after a success.
    QString errorString() const { return m_errorString; }
    Failure failure() const { return m_failure; }

private:
    struct Span
    {
        qint64 inStart = 0; // compressed, from the entry's first data byte
        qint64 inEnd = 0;
        qint64 outStart = 0; // inflated, from the entry's first byte
        qint64 outSize = 0;
        bool last = false;  // ends the stream; the others end on an empty stored block
    };
    struct Segment;
    struct Worker;
    enum class Input { Chunk, End, Stop };

    static std::vector<Span> spansOf(const Entry &entry);
    static std::vector<Span> indexedSpans(const Entry &entry);
    bool inflateStored();
    bool inflateSpans(const std::vector<Span> &spans);
    bool inflateInline(const std::vector<Span> &spans);
    bool inflateThreaded(const std::vector<Span> &spans);
    bool finish();
    bool fold(const Segment &segment);
    bool fail(Failure failure, const QString &reason);
    bool failSink(const QString &reason);

    // The caller's thread: reading and delivering.
    bool readAt(qint64 offset, char *data, qint64 size);
    bool readChunk(Segment &segment, qint64 limit, QByteArray &chunk);
    qint64 chunkLimit(const Segment &segment) const;
    void admit(const Span &span);
    bool readAhead();
    bool deliver();
    bool ioHasWork() const;
    void startWorkers(int count);
    void stopWorkers();

    // A worker's side (the caller's too when inline).
    void workerLoop();
    Segment *nextSegment();
    void inflateSegment(Segment &segment, Worker &worker);
    void inflateWhole(Segment &segment, Worker &worker);
    void inflateStream(Segment &segment, Worker &worker, QByteArray chunk);
    void checkStep(Segment &segment, int status, qint64 consumed, const char *words) const;
    void checkEnd(Segment &segment, bool ended, qint64 consumed) const;
    qint64 fileOffset(const Segment &segment, qint64 offset) const;
    Input nextInput(Segment &segment, QByteArray &chunk);
    bool putOutput(Segment &segment, QByteArray &piece, int size);
    bool keepsPieces() const;

    const int m_workers;
    QString m_errorString;
    Failure m_failure = Failure::None;

    // One inflate's, set before any worker starts.
    QIODevice *m_file = nullptr;
    SourcePageCache *m_pageCache = nullptr; // for a file, while it is read
    const Entry *m_entry = nullptr;
    const Sink *m_sink = nullptr;
    bool m_threaded = false;
    int m_maxQueuedPieces = 0;

    // The caller's side only.
    std::vector<std::unique_ptr<QThread>> m_threads;
    std::deque<std::unique_ptr<Segment>> m_inFlight; // oldest first
    int m_maxInFlight = 0;
    quint32 m_crc = 0;

    // Shared with the workers.
    mutable QMutex m_mutex;
    QWaitCondition m_workerWake;
    QWaitCondition m_ioWake;
    std::deque<Segment *> m_queue; // segments no worker has taken yet
    int m_queuedPieces = 0;        // output pieces not yet through the sink
    bool m_stopping = false;
};

#endif // ENTRYINFLATER_H
