#include "paralleldeflater.h"

#include "threadpriority.h"

#include <QMutexLocker>
#include <QThread>

#define ZLIB_CONST
#include <zlib.h>

#include <libdeflate.h>

// The bytes of an archive are those of one libdeflate version: Debian 12's, which the Windows
// build is made from too.
static_assert(LIBDEFLATE_VERSION_MAJOR == 1 && LIBDEFLATE_VERSION_MINOR == 14, "libdeflate 1.14 expected");

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#if defined(Q_OS_WIN)
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#  include <array>
#  include <bitset>
#elif defined(Q_OS_LINUX)
#  include <sched.h>
#endif

namespace {

// libdeflate's default: about twice as fast as zlib's level 6 for at most a percent more.
constexpr int kLevel = 6;
constexpr int kMaxCompressors = 64;
// What joining adds to a block: up to 2 bits of a stored block's header spill into a byte of
// their own, then its LEN and NLEN.
constexpr int kJoinBytes = 5;
constexpr char kEmptyStoredBlock[] = {'\x00', '\x00', '\xff', '\xff'};
// The proof inflates into this much at a time.
constexpr int kInflateChunk = 64 * 1024;

// inflate's data_type with Z_BLOCK: the unused bits of the last byte read, "in the last
// block", "stopped at a block's end".
constexpr int kUnusedBits = 7;
constexpr int kInLastBlock = 64;
constexpr int kAtBlockEnd = 128;

#ifdef Q_OS_WIN
constexpr QThread::Priority kCompressorPriority = QThread::LowPriority; // BELOW_NORMAL
#else
// Linux's normal scheduler has no priorities for Qt to set; the thread raises its nice instead.
constexpr QThread::Priority kCompressorPriority = QThread::InheritPriority;
#endif

#ifdef Q_OS_WIN
// Machines of more than 64 CPUs have several processor groups. Windows 11 and Server 2022 give
// a process all of them unless it is held to some CPUs; GetProcessAffinityMask then sees only
// one group, or none once a thread runs in another. Earlier Windows keep a process in one group.
std::vector<USHORT> processGroups()
{
    std::array<USHORT, 64> groups{};
    USHORT count = USHORT(groups.size());
    if (!GetProcessGroupAffinity(GetCurrentProcess(), &count, groups.data()))
        return {};
    return std::vector<USHORT>(groups.begin(), groups.begin() + count);
}
#endif

// Where the process spans several processor groups, the compressors take them in turn, so
// that all of them work; elsewhere the system places the thread.
void spreadThisThreadOverGroups()
{
#ifdef Q_OS_WIN
    static std::atomic<unsigned> next{0};
    const std::vector<USHORT> groups = processGroups();
    if (groups.size() < 2)
        return;
    GROUP_AFFINITY affinity{};
    affinity.Group = groups[next++ % groups.size()];
    const DWORD cpus = GetActiveProcessorCount(affinity.Group);
    affinity.Mask = cpus >= 64 ? ~KAFFINITY(0) : (KAFFINITY(1) << cpus) - 1;
    // Refused, the thread stays in its group.
    SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr);
#endif
}

quint32 crcOf(const char *data, qint64 size)
{
    return libdeflate_crc32(0, data, size_t(size));
}

// Where the inflate of one block got to.
struct Inflated
{
    qint64 size = 0;
    quint32 crc = 0;
    qint64 lastBlockBit = 0; // where the Deflate block being inflated began
    int unusedBits = 0;      // of the last byte read
    bool whole = false;      // the final block ended, and with it the bytes
};

// Inflates deflated with Z_BLOCK, which stops at every Deflate block's end (the final one's
// too, before the stream's end), to learn where each block begins.
Inflated inflateBlocks(z_stream &stream, const QByteArray &deflated, qint64 limit)
{
    Inflated result;
    QByteArray chunk(kInflateChunk, Qt::Uninitialized);
    const auto *begin = reinterpret_cast<const Bytef *>(deflated.constData());
    stream.next_in = begin;
    stream.avail_in = uInt(deflated.size());
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk.data());
        stream.avail_out = uInt(chunk.size());
        const int status = inflate(&stream, Z_BLOCK);
        const qint64 produced = chunk.size() - qint64(stream.avail_out);
        result.size += produced;
        result.crc = libdeflate_crc32(result.crc, chunk.constData(), size_t(produced));
        // At a block's end, without input to go on, no progress is still no fault.
        const bool atBlockEnd = stream.data_type & kAtBlockEnd;
        if ((status != Z_OK && !(status == Z_BUF_ERROR && atBlockEnd)) || result.size > limit)
            return result;
        if (!atBlockEnd)
            continue;
        result.unusedBits = stream.data_type & kUnusedBits;
        if (stream.data_type & kInLastBlock)
            break;
        result.lastBlockBit = (stream.next_in - begin) * 8 - result.unusedBits;
    }
    // Past the final block's end the stream ends, with nothing after it.
    stream.next_out = reinterpret_cast<Bytef *>(chunk.data());
    stream.avail_out = uInt(chunk.size());
    result.whole = inflate(&stream, Z_NO_FLUSH) == Z_STREAM_END && stream.avail_in == 0
                   && stream.avail_out == uInt(chunk.size());
    return result;
}

// As zlib's gzjoin joins streams: the last block is no longer final, and an empty stored
// block, whose header follows its end code, brings the stream to a byte's end.
void joinToNext(QByteArray &deflated, const Inflated &inflated)
{
    char *bytes = deflated.data();
    bytes[inflated.lastBlockBit / 8] &= char(~(1u << (inflated.lastBlockBit % 8)));
    const int unused = inflated.unusedBits;
    bytes[deflated.size() - 1] &= char((1u << (8 - unused)) - 1);
    if (unused < 3)
        deflated.append('\0');
    deflated.append(kEmptyStoredBlock, sizeof kEmptyStoredBlock);
}

} // namespace

int ParallelDeflater::availableCpus()
{
    // Qt's idealThreadCount counts the machine's CPUs, not the ones this process may use.
    int count = QThread::idealThreadCount();
#if defined(Q_OS_LINUX)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        count = CPU_COUNT(&set);
#elif defined(Q_OS_WIN)
    const std::vector<USHORT> groups = processGroups();
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (groups.size() > 1) {
        count = 0;
        for (const USHORT group : groups)
            count += int(GetActiveProcessorCount(group));
    } else if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        count = int(std::bitset<64>(process).count());
    }
#endif
    return std::clamp(count, 1, kMaxCompressors);
}

qint64 ParallelDeflater::outputBound(qint64 size)
{
    const qint64 fullBlocks = size / kBlockSize;
    const auto bound = [](qint64 bytes) {
        return qint64(libdeflate_deflate_compress_bound(nullptr, size_t(bytes))) + kJoinBytes;
    };
    return fullBlocks * bound(kBlockSize) + bound(size % kBlockSize);
}

bool ParallelDeflater::proveAndJoin(QByteArray &deflated, qint64 size, quint32 crc, bool last)
{
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    const Inflated inflated = inflateBlocks(stream, deflated, size);
    inflateEnd(&stream);
    if (!inflated.whole || inflated.size != size || inflated.crc != crc)
        return false;
    if (!last)
        joinToNext(deflated, inflated);
    return true;
}

ParallelDeflater::ParallelDeflater(int compressors)
    : m_compressors(std::clamp(compressors, 0, kMaxCompressors))
    , m_maxInFlight(std::min(m_compressors + 2, kMaxBlocksInFlight))
{
}

ParallelDeflater::~ParallelDeflater()
{
    {
        QMutexLocker locker(&m_mutex);
        m_stopping = true;
        m_workToDo.wakeAll();
    }
    for (const auto &thread : m_threads)
        thread->wait();
    libdeflate_free_compressor(m_inlineCompressor);
}

void ParallelDeflater::push(const QByteArray &block, bool last)
{
    Q_ASSERT(last || block.size() == kBlockSize);
    auto job = std::make_unique<Job>();
    job->input = block;
    job->last = last;
    job->size = block.size();
    Job &pushed = *job;
    m_jobs.push_back(std::move(job));

    // A stream of one block is not worth a thread; more compressors than blocks that can be
    // in flight beside the two waiting would never all have work.
    if (m_blocksPushed++ == 0 && !last)
        startCompressors(std::min(m_compressors, m_maxInFlight - 2));
    if (m_threads.empty()) {
        if (!m_inlineCompressor)
            m_inlineCompressor = libdeflate_alloc_compressor(kLevel);
        compress(m_inlineCompressor, pushed);
        finish(pushed);
        return;
    }
    QMutexLocker locker(&m_mutex);
    m_queue.push_back(&pushed);
    m_workToDo.wakeOne();
}

bool ParallelDeflater::nextReady() const
{
    if (m_jobs.empty())
        return false;
    QMutexLocker locker(&m_mutex);
    return m_jobs.front()->done;
}

QByteArray ParallelDeflater::takeNext()
{
    Q_ASSERT(!m_jobs.empty());
    if (m_jobs.empty())
        return QByteArray();
    {
        QMutexLocker locker(&m_mutex);
        while (!m_jobs.front()->done)
            m_jobDone.wait(&m_mutex);
    }
    const std::unique_ptr<Job> job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_failed = m_failed || job->failed;
    // len2 is one block, so zlib's z_off_t (32 bits on Windows) holds it.
    m_crc = quint32(crc32_combine(m_crc, job->crc, job->size));
    m_inputSize += job->size;
    return m_failed ? QByteArray() : std::move(job->output);
}

void ParallelDeflater::startCompressors(int count)
{
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<QThread> thread(QThread::create([this] { compressorLoop(); }));
        thread->start(kCompressorPriority);
        // A thread the system would not give us is done without; with none, all runs inline.
        if (thread->isRunning())
            m_threads.push_back(std::move(thread));
    }
}

void ParallelDeflater::compressorLoop()
{
    spreadThisThreadOverGroups();
    ThreadPriority::lowerThisThread();
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(kLevel);
    while (Job *job = nextJob()) {
        compress(compressor, *job);
        finish(*job);
    }
    libdeflate_free_compressor(compressor);
}

ParallelDeflater::Job *ParallelDeflater::nextJob()
{
    QMutexLocker locker(&m_mutex);
    while (!m_stopping && m_queue.empty())
        m_workToDo.wait(&m_mutex);
    if (m_stopping)
        return nullptr;
    Job *job = m_queue.front();
    m_queue.pop_front();
    return job;
}

void ParallelDeflater::finish(Job &job)
{
    QMutexLocker locker(&m_mutex);
    job.done = true;
    m_jobDone.wakeOne();
}

// A compressor that could not be set up fails each of its blocks, so none is ever left waiting.
void ParallelDeflater::compress(libdeflate_compressor *compressor, Job &job)
{
    job.crc = crcOf(job.input.constData(), job.input.size());
    try {
        job.failed = !compressor || !deflateBlock(*compressor, job)
                     || !proveAndJoin(job.output, job.size, job.crc, job.last);
        // A block waiting for its turn keeps only its output.
        job.output.squeeze();
    } catch (const std::bad_alloc &) {
        job.failed = true;
    }
    job.input = QByteArray();
}

bool ParallelDeflater::deflateBlock(libdeflate_compressor &compressor, Job &job)
{
    const size_t bound = libdeflate_deflate_compress_bound(&compressor, size_t(job.size));
    job.output.resize(int(bound) + kJoinBytes);
    const size_t size = libdeflate_deflate_compress(&compressor, job.input.constData(), size_t(job.size),
                                                    job.output.data(), bound);
    // The input is no longer needed: its CRC stands for it in the proof.
    job.input = QByteArray();
    job.output.resize(int(size));
    return size > 0;
}
