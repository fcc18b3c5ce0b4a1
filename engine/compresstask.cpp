#include "compresstask.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QMutexLocker>
#include <QSaveFile>

#include <algorithm>

namespace {

constexpr qint64 kPieceSize = 4096;
constexpr unsigned long kPauseMs = 200;
// Beyond this many unhandled progress reports, intermediate ones are dropped until the
// GUI thread catches up: they only carry state that the next report replaces.
constexpr int kMaxProgressInFlight = 256;
constexpr int kAcknowledgeEvery = 16;
// From this size on the entry needs ZIP64 fields, or streaming readers reject it.
constexpr qint64 kZip64Threshold = 0xFFFFFFFFLL;
constexpr double kMiB = 1.0 / (1024.0 * 1024.0);

bool isAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

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

void CompressTask::stopTask()
{
    m_stopRequested = true;
    m_idle = 1;
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
    if (m_abortRequested)
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
        if (!entry.isFile() || !filePath.endsWith(suffix, Qt::CaseInsensitive))
            continue;

        m_found = true;
        QFile source(filePath);
        if (!source.open(QIODevice::ReadOnly))
            break;
        m_sourceSize = source.size();
        source.close();

        const QString name = filePath.split(QLatin1Char('/')).last();
        const QString stem = name.left(name.size() - suffix.size());
        m_archivePath = m_outputDir + stem + QStringLiteral(".rar");
        emit sendMessage(m_archivePath);
        if (!archiveFile(m_archivePath, filePath))
            break;
    }

    m_walkChain.removeLast();
}

bool CompressTask::archiveFile(QString archivePath, QString sourcePath)
{
    QDir().mkpath(QFileInfo(archivePath).absolutePath());

    // Written under a temporary name and renamed into place only once complete, so a
    // failure or a killed process never leaves a broken file where the archive belongs.
    QSaveFile file(archivePath);
    QuaZip zip(&file);
    zip.setAutoClose(false);
    zip.setZip64Enabled(m_sourceSize >= kZip64Threshold);
    const QString entryName = QFileInfo(sourcePath).fileName();
    zip.setUtf8Enabled(!isAscii(entryName));

    m_archiveDevice = &file;
    bool ok = zip.open(QuaZip::mdCreate) && writeEntry(&zip, sourcePath, entryName);
    if (ok) {
        zip.close();
        ok = zip.getZipError() == 0 && file.commit();
    }
    m_archiveDevice = nullptr;
    if (!ok)
        file.cancelWriting();
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

    QuaZipFile entry(zip);
    if (!entry.open(QIODevice::WriteOnly, QuaZipNewInfo(entryName, source.fileName()), nullptr, 0,
                    8, -1, false, -15, 8, 0))
        return false;

    if (!copyWithProgress(source, entry) || entry.getZipError() != 0)
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
