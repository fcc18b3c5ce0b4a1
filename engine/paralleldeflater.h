#ifndef PARALLELDEFLATER_H
#define PARALLELDEFLATER_H

#include <QByteArray>
#include <QMutex>
#include <QWaitCondition>

#include <deque>
#include <memory>
#include <vector>

class QThread;
struct libdeflate_compressor;

// One raw Deflate stream made block by block on several threads. Each block of kBlockSize
// bytes is compressed on its own by libdeflate (level 6), then inflated again with zlib to
// prove that it gives back its bytes (their CRC-32) and to find where its last Deflate block
// begins: a block that more follow loses that block's final bit and is ended on a byte with
// an empty stored block, so the outputs joined in order form one stream. Block edges depend
// only on the data, so the bytes are the same on any number of threads.
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
// for an empty stream). push never waits; takeNext waits only for the oldest block, which the
// compressors take first, so the caller cannot deadlock. full() says that 2 blocks more than
// there are compressors are in flight (pushed, output not yet taken), at most
// kMaxBlocksInFlight: take before pushing more. That bounds the memory whatever the stream's
// length: each block in flight holds its input or its output, a block being compressed both.
//
// With 0 compressors, or when the first block is also the last, everything runs on the
// caller's thread and no thread is started. Compressor threads run below normal priority and
// live as long as the object; its destructor returns once each has finished its current block.
class ParallelDeflater
{
public:
    static constexpr int kBlockSize = 4 << 20;
    static constexpr int kMaxBlocksInFlight = 26;

    // The CPUs this process may run on (its affinity), 1..64.
    static int availableCpus();
    // The most bytes the joined stream of a source of size bytes can take.
    static qint64 outputBound(qint64 size);
    // Proves that deflated, one block's Deflate output ending in a final block, inflates to
    // exactly size bytes of CRC-32 crc and ends there; a block that more follow (not last) is
    // then made to join the next. False, and the block useless, if the proof fails.
    static bool proveAndJoin(QByteArray &deflated, qint64 size, quint32 crc, bool last);

    explicit ParallelDeflater(int compressors);
    ~ParallelDeflater();
    ParallelDeflater(const ParallelDeflater &) = delete;
    ParallelDeflater &operator=(const ParallelDeflater &) = delete;

    void push(const QByteArray &block, bool last);
    bool full() const { return inFlight() >= m_maxInFlight; }
    bool nextReady() const;
    int inFlight() const { return int(m_jobs.size()); }
    // The oldest block's Deflate bytes, waited for if need be; empty once failed().
    QByteArray takeNext();

    // Sticky: a block could not be compressed (out of memory) or failed its proof; the
    // stream is lost.
    bool failed() const { return m_failed; }
    // Both of the input whose output was taken.
    quint32 crc() const { return m_crc; }
    qint64 inputSize() const { return m_inputSize; }

private:
    struct Job
    {
        QByteArray input;
        bool last = false;
        int size = 0;
        // Written by the compressor that took the job, read by the caller once done.
        QByteArray output;
        quint32 crc = 0;
        bool failed = false;
        bool done = false; // guarded by m_mutex
    };

    void startCompressors(int count);
    void compressorLoop();
    Job *nextJob();
    void finish(Job &job);
    static void compress(libdeflate_compressor *compressor, Job &job);
    static bool deflateBlock(libdeflate_compressor &compressor, Job &job);

    // The caller's side only.
    const int m_compressors;
    const int m_maxInFlight;
    std::vector<std::unique_ptr<QThread>> m_threads;
    std::deque<std::unique_ptr<Job>> m_jobs; // in flight, oldest first
    qint64 m_blocksPushed = 0;
    qint64 m_inputSize = 0;
    quint32 m_crc = 0;
    bool m_failed = false;
    libdeflate_compressor *m_inlineCompressor = nullptr;

    // Shared with the compressors.
    mutable QMutex m_mutex;
    QWaitCondition m_workToDo;
    QWaitCondition m_jobDone;
    std::deque<Job *> m_queue; // jobs no compressor has taken yet
    bool m_stopping = false;
};

#endif // PARALLELDEFLATER_H
