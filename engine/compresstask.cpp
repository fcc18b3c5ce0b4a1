#include "compresstask.h"

#include "wholefile.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QMutexLocker>

#include <algorithm>

namespace {

constexpr qint64 kPieceSize = 4096;
constexpr unsigned long kPauseMs = 200;
// Beyond this many unhandled progress reports, intermediate ones are dropped until the
// GUI thread catches up: they only carry state that the next report replaces.
constexpr int kMaxProgressInFlight = 256;
constexpr int kAcknowledgeEvery = 64;
// From this size on the entry needs ZIP64 fields, or streaming readers reject it.
constexpr qint64 kZip64Threshold = 0xFFFFFFFFLL;
constexpr double kMiB = 1.0 / (1024.0 * 1024.0);

bool isAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

// The most that Deflate can make of size bytes: zlib's compressBound, in 64 bits (its
// uLong has 32 on Windows). Incompressible data grows a little.
qint64 deflateBound(qint64 size)
{
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 13;
}

// What tells that a source changed while it was copied.
struct SourceState
{
    explicit SourceState(const QString &path)
    {
        const QFileInfo info(path);
        size = info.size();
        modified = info.lastModified();
    }
    bool operator==(const SourceState &other) const
    {
        return size == other.size && modified == other.modified;
    }
    qint64 size;
    QDateTime modified;
};

int percentage(qint64 copied, qint64 total)
{
    if (total <= 0)
        return copied > 0 ? 100 : 0;
    const quint64 value = static_cast<quint64>(copied) * 100u / static_cast<quint64>(total);
    return static_cast<int>(std::min<quint64>(value, 100u));
}

} // namespace

CompressTask::CompressTask(QObject *parent)
    : QThread(parent)
    , m_clock([] { return QTime::currentTime(); })
{
}

CompressTask::~CompressTask()
{
    abort();
}

void CompressTask::startTask(const QString &sourceDir, const QString &suffix, bool unattended,
                             const QString &runTime, const QString &outputDir)
{
    // A thread that has set itself idle may still be on its way out; let it finish,
    // or QThread::start would do nothing and the job would be lost.
    wait();

    m_sourceSize = 0;
    m_sourceDir = sourceDir;
    m_suffix = suffix;
    m_idle = 0;
    m_found = false;
    m_unattended = unattended;
    m_stopRequested = false;
    m_abortRequested = false;
    m_outputDir = outputDir.endsWith(QLatin1Char('/')) ? outputDir : outputDir + QLatin1Char('/');
    m_ranThisMinute = false;
    if (!runTime.isEmpty())
        m_runTime = runTime;
    start(QThread::InheritPriority);
}

// Seen between polls, or once the job in progress is over: the task counts idle only when
// its run ends, so that nobody starts another job beside the one still finishing.
void CompressTask::stopTask()
{
    m_stopRequested = true;
}

int CompressTask::isIdle() const
{
    return m_idle;
}

void CompressTask::abort()
{
    {
        QMutexLocker locker(&m_pauseMutex);
        m_abortRequested = true;
        m_wakeUp.wakeAll();
    }
    wait();
}

void CompressTask::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void CompressTask::run()
{
    if (m_unattended)
        runUnattended();
    else
        runNow();
}

void CompressTask::runNow()
{
    scanAndArchive(m_sourceDir, m_suffix);
    if (m_abortRequested) {
        m_idle = 1;
        return;
    }
    if (!m_found)
        emit sendNotFoundMessage();
    m_idle = 1;
    emit sendTaskFinished();
}

void CompressTask::runUnattended()
{
    while (!m_stopRequested && !m_abortRequested) {
        if (m_clock().toString(QStringLiteral("h:mm")) != m_runTime) {
            m_ranThisMinute = false;
        } else if (!m_ranThisMinute) {
            scanAndArchive(m_sourceDir, m_suffix);
            m_ranThisMinute = true;
            if (m_abortRequested)
                break;
            if (!m_found) {
                emit sendNotFoundMessage();
                m_idle = 1;
                emit sendTaskFinished();
                return;
            }
        }
        pause();
    }
    m_idle = 1;
}

void CompressTask::pause()
{
    QMutexLocker locker(&m_pauseMutex);
    if (!m_abortRequested)
        m_wakeUp.wait(&m_pauseMutex, kPauseMs);
}

void CompressTask::scanAndArchive(const QString &directory, const QString &suffix)
{
    QDir dir(directory);
    if (!dir.exists()) {
        emit sendNoDirMessage(directory);
        return;
    }

    // A link back to a directory already being walked would recurse for ever.
    const QString canonical = QFileInfo(directory).canonicalFilePath();
    if (m_walkChain.contains(canonical))
        return;
    m_walkChain.append(canonical);

    dir.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QFileInfoList entries = dir.entryInfoList(QDir::NoFilter, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        if (m_abortRequested)
            break;
        if (entry.isDir()) {
            scanAndArchive(entry.filePath(), suffix);
            continue;
        }
        const QString filePath = entry.filePath();
        if (entry.isFile() && filePath.endsWith(suffix, Qt::CaseInsensitive))
            archiveMatch(filePath, suffix);
    }

    m_walkChain.removeLast();
}

// A file that fails costs only its own archive: the walk goes on with the next entry.
// It still gets its row first, so the failure has a place to be shown.
void CompressTask::archiveMatch(const QString &filePath, const QString &suffix)
{
    m_found = true;
    QFile source(filePath);
    const bool readable = source.open(QIODevice::ReadOnly);
    m_sourceSize = readable ? source.size() : 0;
    source.close();

    const QString name = filePath.split(QLatin1Char('/')).last();
    const QString stem = name.left(name.size() - suffix.size());
    m_archivePath = m_outputDir + stem + QStringLiteral(".rar");
    emit sendMessage(m_archivePath);
    // An interrupted archive is not a failure of the archive.
    if ((!readable || !archiveFile(m_archivePath, filePath)) && !m_abortRequested)
        emit sendFailed(m_archivePath);
}

bool CompressTask::archiveFile(QString archivePath, QString sourcePath)
{
    QDir().mkpath(QFileInfo(archivePath).absolutePath());

    // Written under a temporary name and put in place only once complete, so a failure
    // or a killed process never leaves a broken file where the archive belongs.
    WholeFile file(archivePath);
    if (!file.open())
        return false;
    QuaZip zip(&file.device());
    zip.setAutoClose(false);
    const QString entryName = QFileInfo(sourcePath).fileName();
    zip.setUtf8Enabled(!isAscii(entryName));

    m_archiveDevice = &file.device();
    bool ok = zip.open(QuaZip::mdCreate) && writeEntry(&zip, sourcePath, entryName);
    m_archiveDevice = nullptr;
    if (ok) {
        zip.close();
        ok = zip.getZipError() == 0 && file.commit([this] { return m_abortRequested.load(); });
    }
    return ok;
}

bool CompressTask::writeEntry(QuaZip *zip, QString sourcePath, QString entryName)
{
    if (!zip || (zip->getMode() != QuaZip::mdCreate && zip->getMode() != QuaZip::mdAppend
                 && zip->getMode() != QuaZip::mdAdd))
        return false;

    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const SourceState atOpening(sourcePath);
    // Decided from what the entry may become: incompressible data just under 4 GiB
    // deflates past it.
    zip->setZip64Enabled(deflateBound(atOpening.size) >= kZip64Threshold);

    QuaZipFile entry(zip);
    if (!entry.open(QIODevice::WriteOnly, QuaZipNewInfo(entryName, source.fileName()), nullptr, 0,
                    8, -1, false, -15, 8, 0))
        return false;

    if (!copyWithProgress(source, entry) || entry.getZipError() != 0)
        return false;
    // A backup still being written (or rewritten) would be archived as a mix of states.
    if (m_bytesCopied != atOpening.size || !(SourceState(sourcePath) == atOpening))
        return false;
    entry.close();
    if (entry.getZipError() != 0)
        return false;
    source.close();
    return true;
}

bool CompressTask::copyWithProgress(QIODevice &in, QIODevice &out)
{
    m_bytesCopied = 0;
    char buffer[kPieceSize];
    bool atEnd = in.atEnd();
    while (!atEnd) {
        if (m_abortRequested)
            return false;
        const qint64 count = in.read(buffer, kPieceSize);
        if (count <= 0)
            return false;
        if (out.write(buffer, count) != count)
            return false;
        m_bytesCopied += count;
        atEnd = in.atEnd();
        reportProgress(atEnd);
    }
    return true;
}

void CompressTask::reportProgress(bool lastPiece)
{
    if (!lastPiece && m_progressInFlight.load() >= kMaxProgressInFlight)
        return;
    // The archive is written sequentially, so its position is its size so far.
    const qint64 archiveSize = m_archiveDevice ? m_archiveDevice->pos() : 0;
    ++m_progressInFlight;
    emit sendProgress(percentage(m_bytesCopied, m_sourceSize), double(archiveSize) * kMiB);

    // Acknowledged in batches, each posted behind its reports to the same thread's queue,
    // so it runs once they were handled.
    if (++m_unacknowledged < kAcknowledgeEvery && !lastPiece)
        return;
    const int handled = m_unacknowledged;
    m_unacknowledged = 0;
    QMetaObject::invokeMethod(this, [this, handled] { m_progressInFlight -= handled; },
                              Qt::QueuedConnection);
}
