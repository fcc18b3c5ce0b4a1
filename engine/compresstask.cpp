#include "compresstask.h"

#include "archivewriter.h"
#include "treewalk.h"

#include <QFile>
#include <QMutexLocker>

#include <algorithm>

namespace {

constexpr unsigned long kPauseMs = 200;
constexpr double kMiB = 1.0 / (1024.0 * 1024.0);

int percentage(qint64 copied, qint64 total)
{
    // An empty source is reported once, when its archive is done.
    if (total <= 0)
        return 100;
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
    m_latch.clear();
    if (!runTime.isEmpty())
        m_latch.setRunTime(runTime);
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
    if (aborted()) {
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
    while (!m_stopRequested && !aborted()) {
        if (m_latch.due(m_clock())) {
            scanAndArchive(m_sourceDir, m_suffix);
            if (aborted())
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
    if (!aborted())
        m_wakeUp.wait(&m_pauseMutex, kPauseMs);
}

void CompressTask::scanAndArchive(const QString &directory, const QString &suffix)
{
    TreeWalk::Visitor visitor;
    visitor.missingDirectory = [this](const QString &path) { emit sendNoDirMessage(path); };
    visitor.matchingFile = [this, &suffix](const QString &path) { archiveMatch(path, suffix); };
    visitor.stopped = [this] { return aborted(); };
    TreeWalk(suffix, visitor).walk(directory);
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
    if ((!readable || !archiveFile(m_archivePath, filePath)) && !aborted())
        emit sendFailed(m_archivePath);
}

bool CompressTask::archiveFile(QString archivePath, QString sourcePath)
{
    ArchiveWriter writer(ArchiveWriter::defaultCompressors(), [this] { return aborted(); });
    m_bytesCopied = 0;
    return writer.write(sourcePath, archivePath, [this](qint64 read, qint64 archiveBytes) {
        m_bytesCopied = read;
        emit sendProgress(percentage(read, m_sourceSize), double(archiveBytes) * kMiB);
    });
}
