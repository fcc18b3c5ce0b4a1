#include "paralleldeflater.h"

#include <QMutexLocker>
#include <QThread>

#define ZLIB_CONST
#include <zlib.h>

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
#  include <cerrno>
#  include <sched.h>
#  include <sys/resource.h>
#  include <sys/syscall.h>
#  include <unistd.h>
#endif

namespace {

// pigz's parameters, so that the bytes are pigz's.
constexpr int kLevel = 6;
constexpr int kWindowBits = -15;
constexpr int kMemLevel = 8;
constexpr int kDictionarySize = 32 * 1024;

constexpr int kMaxCompressors = 64;
// deflateBound leaves out the sync marker and empty blocks that end a block on a byte.
constexpr int kSlack = 64;
constexpr int kGrowth = 64 * 1024;

#ifdef Q_OS_WIN
constexpr QThread::Priority kCompressorPriority = QThread::LowPriority; // BELOW_NORMAL
#else
// Linux's normal scheduler has no priorities for Qt to set; the thread raises its nice instead.
constexpr QThread::Priority kCompressorPriority = QThread::InheritPriority;
#endif

// So that a busy server's own work comes first.
void lowerThisThreadsPriority()
{
#ifdef Q_OS_LINUX
    // On Linux nice belongs to the thread: setpriority on a thread id changes that thread only.
    const auto tid = id_t(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, std::min(nice + 10, 19));
#endif
}

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

const Bytef *bytes(const QByteArray &array)
{
    return reinterpret_cast<const Bytef *>(array.constData());
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

ParallelDeflater::ParallelDeflater(int compressors)
    : m_compressors(std::clamp(compressors, 0, kMaxCompressors))
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
    endStream(m_inlineStream);
}

void ParallelDeflater::push(const QByteArray &block, bool last)
{
    Q_ASSERT(last || block.size() == kBlockSize);
    auto job = std::make_unique<Job>();
    job->input = block;
    job->dictionary = m_tail;
    job->last = last;
    job->size = block.size();
    m_tail = last ? QByteArray() : block.right(kDictionarySize);
    Job &pushed = *job;
    m_jobs.push_back(std::move(job));

    // A stream of one block is not worth a thread.
    if (m_blocksPushed++ == 0 && !last)
        startCompressors();
    if (m_threads.empty()) {
        if (!m_inlineStream)
            m_inlineStream = newStream();
        compress(m_inlineStream, pushed);
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

void ParallelDeflater::startCompressors()
{
    for (int i = 0; i < m_compressors; ++i) {
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
    lowerThisThreadsPriority();
    z_stream_s *stream = newStream();
    while (Job *job = nextJob()) {
        compress(stream, *job);
        finish(*job);
    }
    endStream(stream);
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

// A stream that could not be set up fails each of its blocks, so none is ever left waiting.
void ParallelDeflater::compress(z_stream_s *stream, Job &job)
{
    try {
        job.failed = !stream || !deflateBlock(*stream, job);
    } catch (const std::bad_alloc &) {
        job.failed = true;
    }
    job.crc = quint32(crc32(0, bytes(job.input), uInt(job.input.size())));
    // A block waiting for its turn keeps only its output.
    job.input = QByteArray();
    job.dictionary = QByteArray();
}

bool ParallelDeflater::deflateBlock(z_stream_s &stream, Job &job)
{
    if (deflateReset(&stream) != Z_OK)
        return false;
    const uInt dictionarySize = uInt(job.dictionary.size());
    if (dictionarySize > 0
        && deflateSetDictionary(&stream, bytes(job.dictionary), dictionarySize) != Z_OK)
        return false;
    stream.next_in = bytes(job.input);
    stream.avail_in = uInt(job.input.size());
    job.output.resize(int(deflateBound(&stream, uLong(job.input.size()))) + kSlack);
    const bool ended = job.last ? deflateInto(stream, job.output, Z_FINISH) == Z_STREAM_END
                                : endOnByte(stream, job.output);
    job.output.resize(int(stream.total_out));
    job.output.squeeze();
    return ended && stream.avail_in == 0;
}

// As pigz ends a block that more follow: the next one starts from a fresh stream, so this one
// must stop on a byte without ending the Deflate stream.
bool ParallelDeflater::endOnByte(z_stream_s &stream, QByteArray &output)
{
    if (deflateInto(stream, output, Z_BLOCK) == Z_STREAM_ERROR)
        return false;
    int bits = 0;
    deflatePending(&stream, nullptr, &bits);
    // An empty static block is 10 bits: from an even count a few of them reach a byte (cheaper
    // than the 5-byte sync marker); from an odd one they never do.
    if (bits & 1)
        return deflateInto(stream, output, Z_SYNC_FLUSH) != Z_STREAM_ERROR;
    if ((bits & 7) == 0)
        return true;
    while (bits & 7) {
        if (deflatePrime(&stream, 10, 2) != Z_OK)
            return false;
        deflatePending(&stream, nullptr, &bits);
    }
    return deflateInto(stream, output, Z_BLOCK) != Z_STREAM_ERROR;
}

// Like pigz's deflate_engine: a call that fills the output may still owe some of the flush.
int ParallelDeflater::deflateInto(z_stream_s &stream, QByteArray &output, int flush)
{
    int result = Z_OK;
    do {
        if (int(stream.total_out) == output.size())
            output.resize(output.size() + kGrowth);
        stream.next_out = reinterpret_cast<Bytef *>(output.data()) + stream.total_out;
        stream.avail_out = uInt(output.size()) - uInt(stream.total_out);
        result = deflate(&stream, flush);
    } while (result != Z_STREAM_ERROR && stream.avail_out == 0);
    return result;
}

z_stream_s *ParallelDeflater::newStream()
{
    auto *stream = new (std::nothrow) z_stream_s();
    if (stream && deflateInit2(stream, kLevel, Z_DEFLATED, kWindowBits, kMemLevel,
                               Z_DEFAULT_STRATEGY) != Z_OK) {
        delete stream;
        return nullptr;
    }
    return stream;
}

void ParallelDeflater::endStream(z_stream_s *stream)
{
    if (!stream)
        return;
    deflateEnd(stream);
    delete stream;
}
