#ifndef PARALLELDEFLATER_H
#define PARALLELDEFLATER_H

#include <QByteArray>
#include <QMutex>
#include <QWaitCondition>

#include <deque>
#include <memory>
#include <vector>

class QThread;
struct z_stream_s;

// One raw Deflate stream made block by block on several threads, the way pigz makes it: each
// block of kBlockSize bytes is deflated on its own, primed with the 32 KiB before it and ended
// on a byte boundary, so the outputs joined in order form one stream. Block edges depend only
// on the data, so the bytes are the same on any number of threads (those of `pigz -6 -b 1024`).
//
// One caller thread pushes the blocks in order and takes their outputs back in the same order:
//
//     ParallelDeflater deflater(ParallelDeflater::availableCpus());
//     for each block:
//         while (deflater.full())
//             write(deflater.takeNext());
//         deflater.push(block, last);
//     while (deflater.inFlight() > 0)
//         write(deflater.takeNext());
//     then crc() and inputSize(), unless failed()
//
// Every block holds exactly kBlockSize bytes but the last, which holds 1..kBlockSize (0 only
// for an empty stream). An empty last block after full ones still makes valid Deflate, just
// not pigz's bytes. push never waits; takeNext waits only for the oldest block, which the
// compressors take first, so the caller cannot deadlock. full() says that 2 blocks per
// compressor plus 2 are in flight (pushed, output not yet taken): take before pushing more.
//
// With 0 compressors, or when the first block is also the last, everything runs on the
// caller's thread and no thread is started. Compressor threads run below normal priority and
// live as long as the object; its destructor returns once each has finished its current block.
class ParallelDeflater
{
public:
    static constexpr int kBlockSize = 1 << 20;

    // The CPUs this process may run on (its affinity), 1..64.
    static int availableCpus();

    explicit ParallelDeflater(int compressors);
    ~ParallelDeflater();
    ParallelDeflater(const ParallelDeflater &) = delete;
    ParallelDeflater &operator=(const ParallelDeflater &) = delete;

    void push(const QByteArray &block, bool last);
    bool full() const { return inFlight() >= 2 * m_compressors + 2; }
    bool nextReady() const;
    int inFlight() const { return int(m_jobs.size()); }
    // The oldest block's Deflate bytes, waited for if need be; never empty unless zlib failed.
    QByteArray takeNext();

    // Sticky: zlib could not deflate a block (out of memory); the stream is lost.
    bool failed() const { return m_failed; }
    // Both of the input whose output was taken.
    quint32 crc() const { return m_crc; }
    qint64 inputSize() const { return m_inputSize; }

private:
    struct Job
    {
        QByteArray input;
        QByteArray dictionary;
        bool last = false;
        int size = 0;
        // Written by the compressor that took the job, read by the caller once done.
        QByteArray output;
        quint32 crc = 0;
        bool failed = false;
        bool done = false; // guarded by m_mutex
    };

    void startCompressors();
    void compressorLoop();
    Job *nextJob();
    void finish(Job &job);
    static void compress(z_stream_s *stream, Job &job);
    static bool deflateBlock(z_stream_s &stream, Job &job);
    static bool endOnByte(z_stream_s &stream, QByteArray &output);
    static int deflateInto(z_stream_s &stream, QByteArray &output, int flush);
    static z_stream_s *newStream();
    static void endStream(z_stream_s *stream);

    // The caller's side only.
    const int m_compressors;
    std::vector<std::unique_ptr<QThread>> m_threads;
    std::deque<std::unique_ptr<Job>> m_jobs; // in flight, oldest first
    QByteArray m_tail;                       // the dictionary of the next block
    qint64 m_blocksPushed = 0;
    qint64 m_inputSize = 0;
    quint32 m_crc = 0;
    bool m_failed = false;
    z_stream_s *m_inlineStream = nullptr;

    // Shared with the compressors.
    mutable QMutex m_mutex;
    QWaitCondition m_workToDo;
    QWaitCondition m_jobDone;
    std::deque<Job *> m_queue; // jobs no compressor has taken yet
    bool m_stopping = false;
};

#endif // PARALLELDEFLATER_H
