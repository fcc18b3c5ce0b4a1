#include "entryinflater.h"

#include "paralleldeflater.h"
#include "sourcepagecache.h"
#include "systemerror.h"
#include "threadpriority.h"

#include <QFile>
#include <QIODevice>
#include <QMutexLocker>
#include <QThread>

#define ZLIB_CONST
#include <zlib.h>

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr int kBlockSizeLog2 = 22;
constexpr qint64 kBlockSize = ParallelDeflater::kBlockSize;
static_assert(qint64(1) << kBlockSizeLog2 == kBlockSize, "the index counts the deflater's blocks");
// No more threads than the compressors may have.
constexpr int kMaxWorkers = ParallelDeflater::kMaxBlocksInFlight - 2;
// Reads and output pieces on the caller's thread: the serial inflate, the stored copy.
constexpr qint64 kInlineRead = 64 * 1024;
constexpr int kInlinePiece = 256 * 1024;
// A worker's long segment comes in reads of 1 MiB, two waiting, and goes in 4 MiB pieces.
constexpr qint64 kWorkerRead = 1 << 20;
constexpr int kQueuedReads = 2;
constexpr int kWorkerPiece = ParallelDeflater::kBlockSize;
// zlib's output per call, whose CRC is taken while it is still in the cache.
constexpr int kInflateStep = 256 * 1024;
// Ends a segment that ends on an empty stored block as a stream of its own.
constexpr char kFinalStoredBlock[] = {'\x01', '\x00', '\x00', '\xff', '\xff'};
constexpr int kFinalBytes = sizeof kFinalStoredBlock;
// Far beyond any file; keeps the arithmetic on the sizes in range.
constexpr quint64 kLargestSize = quint64(1) << 62;

#ifdef Q_OS_WIN
constexpr QThread::Priority kWorkerPriority = QThread::LowPriority; // BELOW_NORMAL
#else
// Linux's normal scheduler has no priorities for Qt to set; the thread raises its nice instead.
constexpr QThread::Priority kWorkerPriority = QThread::InheritPriority;
#endif

// crc32_combine takes the second part's length as a long, 32 bits on Windows; combined with a
// zero CRC it only shifts the first, so longer parts are shifted over in steps.
quint32 combineCrc(quint32 first, quint32 second, qint64 secondSize)
{
    constexpr qint64 kStep = qint64(1) << 30;
    for (; secondSize > kStep; secondSize -= kStep)
        first = quint32(crc32_combine(first, 0, z_off_t(kStep)));
    return quint32(crc32_combine(first, second, z_off_t(secondSize)));
}

QString hex(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0')).toUpper();
}

QString damagedAt(qint64 offset, const char *words)
{
    if (!words)
        return QStringLiteral("压缩数据在文件偏移 %1 处损坏").arg(offset);
    return QStringLiteral("压缩数据在文件偏移 %1 处损坏（%2）").arg(offset).arg(QString::fromLatin1(words));
}

// zlib's raw inflate, ended with its scope.
struct RawInflate
{
    RawInflate() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~RawInflate()
    {
        if (ready)
            inflateEnd(&stream);
    }
    RawInflate(const RawInflate &) = delete;
    RawInflate &operator=(const RawInflate &) = delete;

    z_stream stream{};
    bool ready = false;
};

} // namespace

struct EntryInflater::Segment
{
    explicit Segment(const Span &span)
        : span(span)
        , whole(span.outSize <= kBlockSize && span.inEnd - span.inStart <= ParallelDeflater::outputBound(span.outSize))
        , readTo(span.inStart)
    {
    }

    const Span span;
    // One block at most: read at once and inflated by libdeflate.
    const bool whole;

    // The caller's thread only.
    qint64 readTo;
    bool allRead = false;

    // Guarded by m_mutex.
    std::deque<QByteArray> input;
    bool inputEnded = false;
    std::deque<QByteArray> output;
    bool oldest = false; // its output goes to the sink now
    bool done = false;

    // Written by the worker that took the segment, read once it is done.
    quint32 crc = 0;
    qint64 size = 0;
    Failure failure = Failure::None;
    QString problem;

    void setProblem(Failure kind, const QString &reason)
    {
        failure = kind;
        problem = reason;
    }
};

struct EntryInflater::Worker
{
    Worker()
        : decompressor(libdeflate_alloc_decompressor())
    {
    }
    ~Worker() { libdeflate_free_decompressor(decompressor); }
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    libdeflate_decompressor *decompressor;
    QByteArray scratch; // output that nobody keeps
};

int EntryInflater::defaultWorkers()
{
    const int cpus = ParallelDeflater::availableCpus();
    return cpus > 1 ? std::min(cpus, kMaxWorkers) : 0;
}

EntryInflater::EntryInflater(int workers)
    : m_workers(std::clamp(workers, 0, kMaxWorkers))
{
}

EntryInflater::~EntryInflater() = default;

bool EntryInflater::inflate(QIODevice &file, const Entry &entry, const Sink &sink)
{
    m_errorString.clear();
    m_failure = Failure::None;
    m_file = &file;
    m_entry = &entry;
    m_sink = &sink;
    m_crc = 0;
    if (entry.size > kLargestSize || entry.compressedSize > kLargestSize)
        return fail(Failure::Data, QStringLiteral("记录的大小超出范围"));
    if (entry.method != 0 && entry.method != 8)
        return fail(Failure::Data, QStringLiteral("不支持的压缩方法 %1").arg(entry.method));
    // An archive read through once (a verification, a restore) leaves the page cache as it
    // found it.
    QFile *archive = qobject_cast<QFile *>(&file);
    const std::unique_ptr<SourcePageCache> pageCache(archive ? new SourcePageCache(*archive) : nullptr);
    m_pageCache = pageCache.get();
    bool inflated = false;
    try {
        inflated = entry.method == 0 ? inflateStored() : inflateSpans(spansOf(entry));
    } catch (const std::bad_alloc &) {
        stopWorkers();
        fail(Failure::Memory, SystemError::outOfMemory());
    }
    m_pageCache = nullptr;
    return inflated && finish();
}

// The segments of an index that fits the entry: as many starts as its blocks call for,
// rising, each segment no longer than the deflater could have made of its blocks. Without
// one the data alone are the truth: one stream.
std::vector<EntryInflater::Span> EntryInflater::spansOf(const Entry &entry)
{
    std::vector<Span> spans = indexedSpans(entry);
    if (spans.empty())
        spans.push_back({0, qint64(entry.compressedSize), 0, qint64(entry.size), true});
    return spans;
}

std::vector<EntryInflater::Span> EntryInflater::indexedSpans(const Entry &entry)
{
    const qint64 stride = entry.blockStride;
    if (stride == 0 || entry.blockSizeLog2 != kBlockSizeLog2)
        return {};
    const qint64 size = qint64(entry.size);
    const qint64 blocks = (size + kBlockSize - 1) / kBlockSize;
    if (entry.blockStarts.size() != (blocks <= 1 ? 0 : (blocks - 1) / stride))
        return {};
    std::vector<Span> spans;
    qint64 inStart = 0;
    for (int i = 0; i <= entry.blockStarts.size(); ++i) {
        const bool last = i == entry.blockStarts.size();
        const qint64 inEnd = last ? qint64(entry.compressedSize) : qint64(entry.blockStarts[i]);
        const qint64 outStart = i * stride * kBlockSize;
        const qint64 outSize = last ? size - outStart : stride * kBlockSize;
        if (inEnd <= inStart || inEnd - inStart > ParallelDeflater::outputBound(outSize))
            return {};
        spans.push_back({inStart, inEnd, outStart, outSize, last});
        inStart = inEnd;
    }
    return spans;
}

bool EntryInflater::inflateStored()
{
    if (m_entry->compressedSize != m_entry->size)
        return fail(Failure::Data, QStringLiteral("存储的数据为 %1 字节，与记录的大小 %2 字节不符")
                                       .arg(m_entry->compressedSize)
                                       .arg(m_entry->size));
    Segment segment({0, qint64(m_entry->size), 0, qint64(m_entry->size), true});
    QByteArray chunk;
    while (!segment.allRead) {
        if (!readChunk(segment, kInlineRead, chunk))
            return false;
        m_crc = libdeflate_crc32(m_crc, chunk.constData(), size_t(chunk.size()));
        QString reason;
        if (*m_sink && !chunk.isEmpty() && !(*m_sink)(chunk.constData(), chunk.size(), reason))
            return failSink(reason);
    }
    return true;
}

bool EntryInflater::inflateSpans(const std::vector<Span> &spans)
{
    // One segment is not worth a thread.
    if (spans.size() > 1 && m_workers > 0)
        startWorkers(int(std::min<size_t>(size_t(m_workers), spans.size())));
    const bool inflated = m_threaded ? inflateThreaded(spans) : inflateInline(spans);
    stopWorkers();
    return inflated;
}

bool EntryInflater::inflateInline(const std::vector<Span> &spans)
{
    Worker worker;
    for (const Span &span : spans) {
        Segment segment(span);
        inflateSegment(segment, worker);
        if (!fold(segment))
            return false;
    }
    return true;
}

// The caller's loop: segments admitted in order, their input read ahead, the oldest's output
// handed to the sink; it waits only when none of that can go on.
bool EntryInflater::inflateThreaded(const std::vector<Span> &spans)
{
    size_t next = 0;
    for (;;) {
        while (int(m_inFlight.size()) < m_maxInFlight && next < spans.size())
            admit(spans[next++]);
        if (m_inFlight.empty())
            return true;
        if (!readAhead() || !deliver())
            return false;
        const bool canAdmit = int(m_inFlight.size()) < m_maxInFlight && next < spans.size();
        QMutexLocker locker(&m_mutex);
        while (!canAdmit && !m_inFlight.empty() && !ioHasWork())
            m_ioWake.wait(&m_mutex);
    }
}

// The first failure is the reason; the segments' in their order, whatever the threads.
bool EntryInflater::fold(const Segment &segment)
{
    if (m_failure != Failure::None)
        return false;
    if (segment.failure != Failure::None)
        return fail(segment.failure, segment.problem);
    m_crc = combineCrc(m_crc, segment.crc, segment.size);
    return true;
}

// Each segment gave its size; the CRC-32 is the entry's.
bool EntryInflater::finish()
{
    if (m_crc != m_entry->crc)
        return fail(Failure::Data, QStringLiteral("CRC-32 不符：记录为 %1，数据为 %2").arg(hex(m_entry->crc), hex(m_crc)));
    return true;
}

bool EntryInflater::fail(Failure failure, const QString &reason)
{
    if (m_failure == Failure::None) {
        m_failure = failure;
        m_errorString = reason;
    }
    return false;
}

bool EntryInflater::failSink(const QString &reason)
{
    return fail(Failure::Sink, reason.isEmpty() ? QStringLiteral("解压出的数据未能写出") : reason);
}

bool EntryInflater::readAt(qint64 offset, char *data, qint64 size)
{
    const qint64 position = m_entry->dataOffset + offset;
    const SystemError reading;
    if (m_file->pos() != position && !m_file->seek(position))
        return fail(Failure::Read, reading.reasonFor(*m_file));
    for (qint64 done = 0; done < size;) {
        const qint64 count = m_file->read(data + done, size - done);
        if (count < 0)
            return fail(Failure::Read, reading.reasonFor(*m_file));
        if (count == 0)
            return fail(Failure::Data, QStringLiteral("归档文件在偏移 %1 处提前结束").arg(position + done));
        done += count;
    }
    if (m_pageCache)
        m_pageCache->readUpTo(m_file->pos());
    return true;
}

// The segment's next compressed bytes; after the last of a segment that more follow, the
// final empty stored block that makes it a stream.
bool EntryInflater::readChunk(Segment &segment, qint64 limit, QByteArray &chunk)
{
    const Span &span = segment.span;
    const qint64 size = std::min(limit, span.inEnd - segment.readTo);
    const bool ends = segment.readTo + size == span.inEnd;
    const int tail = ends && !span.last ? kFinalBytes : 0;
    chunk = QByteArray(int(size) + tail, Qt::Uninitialized);
    if (!readAt(segment.readTo, chunk.data(), size))
        return false;
    std::memcpy(chunk.data() + size, kFinalStoredBlock, size_t(tail));
    segment.readTo += size;
    segment.allRead = ends;
    return true;
}

qint64 EntryInflater::chunkLimit(const Segment &segment) const
{
    if (segment.whole)
        return segment.span.inEnd - segment.span.inStart;
    return m_threaded ? kWorkerRead : kInlineRead;
}

void EntryInflater::admit(const Span &span)
{
    m_inFlight.push_back(std::make_unique<Segment>(span));
    Segment *segment = m_inFlight.back().get();
    QMutexLocker locker(&m_mutex);
    segment->oldest = m_inFlight.size() == 1;
    m_queue.push_back(segment);
    m_workerWake.wakeAll();
}

// One read for each segment in flight that has room for it, the oldest first.
bool EntryInflater::readAhead()
{
    for (const auto &segment : m_inFlight) {
        if (segment->allRead)
            continue;
        {
            QMutexLocker locker(&m_mutex);
            if (segment->input.size() >= size_t(kQueuedReads))
                continue;
        }
        QByteArray chunk;
        if (!readChunk(*segment, chunkLimit(*segment), chunk))
            return false;
        QMutexLocker locker(&m_mutex);
        segment->input.push_back(std::move(chunk));
        segment->inputEnded = segment->allRead;
        m_workerWake.wakeAll();
    }
    return true;
}

// The oldest segment's pieces to the sink; once it is done and given, its sums are taken and
// the next is the oldest. A piece counts as in flight until the sink is through with it.
bool EntryInflater::deliver()
{
    Segment &segment = *m_inFlight.front();
    for (;;) {
        QByteArray piece;
        {
            QMutexLocker locker(&m_mutex);
            if (segment.output.empty()) {
                if (!segment.done)
                    return true;
                break;
            }
            piece = std::move(segment.output.front());
            segment.output.pop_front();
        }
        QString reason;
        const bool taken = (*m_sink)(piece.constData(), piece.size(), reason);
        piece = QByteArray();
        {
            QMutexLocker locker(&m_mutex);
            --m_queuedPieces;
            m_workerWake.wakeAll();
        }
        if (!taken)
            return failSink(reason);
    }
    if (!fold(segment))
        return false;
    QMutexLocker locker(&m_mutex);
    m_inFlight.pop_front();
    if (!m_inFlight.empty())
        m_inFlight.front()->oldest = true;
    m_workerWake.wakeAll();
    return true;
}

// With m_mutex held.
bool EntryInflater::ioHasWork() const
{
    const Segment &oldest = *m_inFlight.front();
    if (oldest.done || !oldest.output.empty())
        return true;
    return std::any_of(m_inFlight.begin(), m_inFlight.end(), [](const auto &segment) {
        return !segment->allRead && segment->input.size() < size_t(kQueuedReads);
    });
}

// Two segments more in flight than there are workers, one piece more waiting: each segment
// holds its input or its output, whatever the entry's length.
void EntryInflater::startWorkers(int count)
{
    m_threaded = true;
    m_maxInFlight = count + 2;
    m_maxQueuedPieces = count + 1;
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<QThread> thread(QThread::create([this] { workerLoop(); }));
        thread->start(kWorkerPriority);
        // A thread the system would not give us is done without; with none, all runs inline.
        if (thread->isRunning())
            m_threads.push_back(std::move(thread));
    }
    if (m_threads.empty())
        m_threaded = false;
}

void EntryInflater::stopWorkers()
{
    {
        QMutexLocker locker(&m_mutex);
        m_stopping = true;
        m_workerWake.wakeAll();
    }
    for (const auto &thread : m_threads)
        thread->wait();
    m_threads.clear();
    m_queue.clear();
    m_inFlight.clear();
    m_queuedPieces = 0;
    m_stopping = false;
    m_threaded = false;
}

void EntryInflater::workerLoop()
{
    ThreadPriority::lowerThisThread();
    Worker worker;
    while (Segment *segment = nextSegment()) {
        inflateSegment(*segment, worker);
        QMutexLocker locker(&m_mutex);
        segment->done = true;
        m_ioWake.wakeOne();
    }
}

EntryInflater::Segment *EntryInflater::nextSegment()
{
    QMutexLocker locker(&m_mutex);
    while (!m_stopping && m_queue.empty())
        m_workerWake.wait(&m_mutex);
    if (m_stopping)
        return nullptr;
    Segment *segment = m_queue.front();
    m_queue.pop_front();
    return segment;
}

void EntryInflater::inflateSegment(Segment &segment, Worker &worker)
{
    try {
        if (segment.whole)
            inflateWhole(segment, worker);
        else
            inflateStream(segment, worker, QByteArray());
    } catch (const std::bad_alloc &) {
        segment.setProblem(Failure::Memory, SystemError::outOfMemory());
    }
}

// libdeflate, all at once; what it refuses zlib inflates again, to say where and why.
void EntryInflater::inflateWhole(Segment &segment, Worker &worker)
{
    QByteArray in;
    if (nextInput(segment, in) == Input::Stop)
        return;
    const qint64 outSize = segment.span.outSize;
    QByteArray kept;
    QByteArray &out = keepsPieces() ? kept : worker.scratch;
    if (out.size() < outSize)
        out.resize(int(outSize));
    size_t inUsed = 0;
    size_t outUsed = 0;
    const bool inflated = worker.decompressor
                          && libdeflate_deflate_decompress_ex(worker.decompressor, in.constData(), size_t(in.size()),
                                                              out.data(), size_t(outSize), &inUsed, &outUsed)
                                 == LIBDEFLATE_SUCCESS
                          && inUsed == size_t(in.size()) && outUsed == size_t(outSize);
    if (!inflated)
        return inflateStream(segment, worker, std::move(in));
    in = QByteArray();
    segment.crc = libdeflate_crc32(0, out.constData(), size_t(outSize));
    segment.size = outSize;
    putOutput(segment, out, int(outSize));
}

// zlib, streaming: the input in chunks, the output in pieces.
void EntryInflater::inflateStream(Segment &segment, Worker &worker, QByteArray chunk)
{
    RawInflate zlib;
    z_stream &stream = zlib.stream;
    if (!zlib.ready)
        return segment.setProblem(Failure::Memory, SystemError::outOfMemory());
    QByteArray kept;
    QByteArray &piece = keepsPieces() ? kept : worker.scratch;
    const int pieceSize = m_threaded ? kWorkerPiece : kInlinePiece;
    int filled = 0;
    qint64 chunkStart = 0;
    const auto consumed = [&] { return chunkStart + (stream.next_in - reinterpret_cast<const Bytef *>(chunk.constData())); };
    stream.next_in = reinterpret_cast<const Bytef *>(chunk.constData());
    stream.avail_in = uInt(chunk.size());
    int status = Z_OK;
    while (status != Z_STREAM_END && segment.failure == Failure::None) {
        if (stream.avail_in == 0) {
            chunkStart += chunk.size();
            const Input got = nextInput(segment, chunk);
            if (got == Input::Stop)
                return;
            stream.next_in = reinterpret_cast<const Bytef *>(chunk.constData());
            stream.avail_in = uInt(chunk.size());
            if (got == Input::End)
                break;
            continue;
        }
        if (piece.size() < pieceSize)
            piece.resize(pieceSize);
        const uInt room = uInt(std::min(kInflateStep, pieceSize - filled));
        stream.next_out = reinterpret_cast<Bytef *>(piece.data() + filled);
        stream.avail_out = room;
        status = ::inflate(&stream, Z_NO_FLUSH);
        const int produced = int(room - stream.avail_out);
        segment.crc = libdeflate_crc32(segment.crc, piece.constData() + filled, size_t(produced));
        segment.size += produced;
        filled += produced;
        checkStep(segment, status, consumed(), stream.msg);
        const bool pieceDone = filled == pieceSize || (status == Z_STREAM_END && filled > 0);
        if (segment.failure == Failure::None && pieceDone) {
            if (!putOutput(segment, piece, filled))
                return;
            filled = 0;
        }
    }
    if (segment.failure == Failure::None)
        checkEnd(segment, status == Z_STREAM_END, consumed());
}

// What an inflate call's status and the bytes so far say of the segment.
void EntryInflater::checkStep(Segment &segment, int status, qint64 consumed, const char *words) const
{
    const Span &span = segment.span;
    if (status == Z_MEM_ERROR)
        segment.setProblem(Failure::Memory, SystemError::outOfMemory());
    else if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
        segment.setProblem(Failure::Data, damagedAt(fileOffset(segment, consumed), words));
    else if (segment.size > span.outSize)
        segment.setProblem(Failure::Data, QStringLiteral("解压出的数据多于记录的 %1 字节").arg(span.outStart + span.outSize));
}

// A segment's stream must end with its bytes, neither sooner nor later, and give all of its size.
void EntryInflater::checkEnd(Segment &segment, bool ended, qint64 consumed) const
{
    const Span &span = segment.span;
    const qint64 inSize = span.inEnd - span.inStart + (span.last ? 0 : kFinalBytes);
    if (!ended)
        segment.setProblem(Failure::Data, QStringLiteral("压缩数据在文件偏移 %1 处中断，不完整").arg(fileOffset(segment, inSize)));
    else if (consumed < inSize)
        segment.setProblem(Failure::Data, QStringLiteral("压缩数据流在文件偏移 %1 处提前结束，其后到偏移 %2 还有数据")
                                              .arg(fileOffset(segment, consumed))
                                              .arg(fileOffset(segment, inSize)));
    else if (segment.size < span.outSize)
        segment.setProblem(Failure::Data, QStringLiteral("解压出的数据只有 %1 字节，少于记录的 %2 字节")
                                              .arg(span.outStart + segment.size)
                                              .arg(span.outStart + span.outSize));
}

// Where a byte of the segment's input lies in the file; the block added to it counts as its end.
qint64 EntryInflater::fileOffset(const Segment &segment, qint64 offset) const
{
    const Span &span = segment.span;
    return m_entry->dataOffset + span.inStart + std::min(offset, span.inEnd - span.inStart);
}

EntryInflater::Input EntryInflater::nextInput(Segment &segment, QByteArray &chunk)
{
    if (!m_threaded) {
        if (segment.allRead)
            return Input::End;
        return readChunk(segment, chunkLimit(segment), chunk) ? Input::Chunk : Input::Stop;
    }
    QMutexLocker locker(&m_mutex);
    while (!m_stopping && segment.input.empty() && !segment.inputEnded)
        m_workerWake.wait(&m_mutex);
    if (m_stopping)
        return Input::Stop;
    if (segment.input.empty())
        return Input::End;
    chunk = std::move(segment.input.front());
    segment.input.pop_front();
    m_ioWake.wakeOne();
    return Input::Chunk;
}

// Hands a piece on: inline to the sink at once, from a worker into the segment's output,
// waiting while too many are in flight (the oldest segment's first never waits, so that
// the caller can always go on).
bool EntryInflater::putOutput(Segment &segment, QByteArray &piece, int size)
{
    if (!*m_sink)
        return true;
    if (!m_threaded) {
        QString reason;
        return (*m_sink)(piece.constData(), size, reason) || failSink(reason);
    }
    piece.resize(size);
    QMutexLocker locker(&m_mutex);
    while (!m_stopping && m_queuedPieces >= m_maxQueuedPieces && !(segment.oldest && segment.output.empty()))
        m_workerWake.wait(&m_mutex);
    if (m_stopping)
        return false;
    segment.output.push_back(std::move(piece));
    piece = QByteArray();
    ++m_queuedPieces;
    m_ioWake.wakeOne();
    return true;
}

bool EntryInflater::keepsPieces() const
{
    return m_threaded && *m_sink;
}
