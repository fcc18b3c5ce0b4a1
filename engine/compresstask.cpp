#include "compresstask.h"

#include "archivecheck.h"
#include "archivewriter.h"
#include "filenamecodec.h"
#include "outputlock.h"
#include "systemlog.h"
#include "threadpriority.h"
#include "treewalk.h"
#include "wholefile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <algorithm>
#include <new>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <cerrno>
#endif

namespace {

constexpr unsigned long kPauseMs = 200;
constexpr double kMiB = 1.0 / (1024.0 * 1024.0);
// A slot run later than this after its time was caught up, not met.
constexpr qint64 kLateSecs = 60;

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) * kMiB, 'f', 2);
}

QString outOfMemory()
{
#ifdef Q_OS_WIN
    return qt_error_string(ERROR_NOT_ENOUGH_MEMORY);
#else
    return qt_error_string(ENOMEM);
#endif
}

QString shownTime(const QDateTime &moment)
{
    return moment.toString(QStringLiteral("yyyy-M-d h:mm:ss"));
}

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
    , m_clock([] { return QDateTime::currentDateTime(); })
{
    FileNameCodec::install();
}

CompressTask::~CompressTask()
{
    abort();
}

bool CompressTask::startTask(const QString &sourceDir, const QString &suffix, bool unattended,
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
    m_outputBusy = false;
    m_outputBusyReason.clear();
    m_outputDir = outputDir.endsWith(QLatin1Char('/')) ? outputDir : outputDir + QLatin1Char('/');
    if (!runTime.isEmpty())
        m_runTime = QTime::fromString(runTime, QStringLiteral("h:mm"));
    if (!unattended)
        m_resumeFrom = QDateTime();
    start(QThread::InheritPriority);
    if (isRunning() || isFinished())
        return true;
    m_idle = 1;
    return false;
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

void CompressTask::resumeFrom(const QDateTime &lastSlot)
{
    m_resumeFrom = lastSlot;
}

QString CompressTask::lockPath(const QString &outputDir)
{
    return OutputLock::path(outputDir);
}

bool CompressTask::outputBusy(const QString &outputDir)
{
    return OutputLock::busy(outputDir);
}

void CompressTask::run()
{
    // The compressors it starts run below it too.
    ThreadPriority::lowerThisThread();
    try {
        if (m_unattended)
            runUnattended();
        else
            runNow();
    } catch (const std::bad_alloc &) {
        // Out of memory outside any archive: the job ends, the program lives on.
        SystemLog::report(SystemLog::JobEnded, SystemLog::Type::Error,
                          QStringLiteral("压缩任务中断：%1").arg(outOfMemory()));
        m_outputLock.reset();
        m_idle = 1;
        emit sendTaskFinished();
    }
}

void CompressTask::runNow()
{
    runJob();
    if (m_outputBusy && !aborted()) {
        m_idle = 1;
        emit sendOutputBusy(m_outputDir, m_outputBusyReason);
        emit sendTaskFinished();
        return;
    }
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
    startSchedule();
    while (!m_stopRequested && !aborted()) {
        const QDateTime now = m_clock();
        const QDateTime slot = m_schedule.take(now);
        if (slot.isValid()) {
            emit sendLastSlot(slot);
            if (slot.secsTo(now) > kLateSecs)
                SystemLog::report(SystemLog::SlotCaughtUp, SystemLog::Type::Information,
                                  QStringLiteral("无人值守任务补做：%1 的任务于 %2 执行。")
                                      .arg(slot.toString(QStringLiteral("yyyy-M-d h:mm")), shownTime(now)));
            runJob();
            // Busy only when switched off while it waited for the other job.
            if (aborted() || m_outputBusy)
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

// One walk of the tree, reported to the system's log as a whole at its end.
void CompressTask::runJob()
{
    m_totals = Totals();
    QElapsedTimer timer;
    timer.start();
    scanAndArchive(m_sourceDir, m_suffix);
    m_outputLock.reset();
    if (aborted() || m_outputBusy)
        return;
    if (m_totals.found == 0 && QFileInfo(m_sourceDir).isDir())
        SystemLog::report(SystemLog::NothingFound, SystemLog::Type::Warning,
                          QStringLiteral("在此文件夹中未搜索到 .bak 文件：%1").arg(m_sourceDir));
    const Totals &t = m_totals;
    const SystemLog::Type type = t.written + t.unchanged == 0 ? SystemLog::Type::Error
                                 : t.failed > 0 ? SystemLog::Type::Warning
                                                : SystemLog::Type::Information;
    SystemLog::report(SystemLog::JobEnded, type,
                      QStringLiteral("压缩任务结束：写入压缩文件 %1 个，失败 %2 个，未变化 %3 个；读取 %4 MB，"
                                     "写入 %5 MB，用时 %6 秒。需要执行任务的目录：%7；输出压缩文件的目录：%8")
                          .arg(t.written).arg(t.failed).arg(t.unchanged)
                          .arg(megabytes(t.bytesRead), megabytes(t.bytesWritten))
                          .arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1).arg(m_sourceDir, m_outputDir));
}

void CompressTask::startSchedule()
{
    const QDateTime now = m_clock();
    if (m_resumeFrom.isValid()) {
        m_schedule.resume(m_runTime, m_resumeFrom, now, now.addSecs(kCatchUpDelaySecs));
        // A schedule that ran before goes on through an empty night, as after a run that
        // found files: nobody is there to switch it on again.
        m_found = true;
    } else {
        m_schedule.start(m_runTime, now);
    }
    m_resumeFrom = QDateTime();
    emit sendLastSlot(m_schedule.lastSlot());
}

// Taken before the job's first archive, so that a job that writes nothing leaves no trace.
// A daily job waits for another job to end; a job to run now gives up. A lock that cannot
// even be made (an output directory that cannot be created) does not stop the job: its
// archives then fail one by one, each with its reason.
bool CompressTask::holdOutput()
{
    if (m_outputLock) {
        m_outputLock->refresh();
        return true;
    }
    QDir().mkpath(m_outputDir);
    auto lock = std::make_unique<OutputLock>(m_outputDir);
    bool toldWaiting = false;
    for (OutputLock::Outcome outcome; (outcome = lock->tryLock()) != OutputLock::Outcome::Held;) {
        if (outcome == OutputLock::Outcome::Unavailable)
            return true;
        if (!m_unattended || m_stopRequested || aborted()) {
            m_outputBusy = true;
            m_outputBusyReason = lock->reason();
            return false;
        }
        if (!toldWaiting)
            SystemLog::report(SystemLog::WaitingForLock, SystemLog::Type::Information,
                              QStringLiteral("无人值守任务等待另一个任务结束：%1").arg(lock->reason()));
        toldWaiting = true;
        pause();
    }
    if (!lock->takenOver().isEmpty())
        SystemLog::report(SystemLog::LockTakenOver, SystemLog::Type::Information,
                          QStringLiteral("已接管输出目录的锁 %1").arg(lock->takenOver()));
    m_outputLock = std::move(lock);
    // Listed once: a directory of a thousand archives is not listed for each of them.
    m_leftovers = WholeFile::leftovers(m_outputDir);
    return true;
}

// A job that runs for hours keeps its lock fresh, so that nobody takes it for a dead one.
void CompressTask::keepOutput()
{
    if (m_outputLock)
        m_outputLock->refresh();
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
    visitor.missingDirectory = [this](const QString &path) {
        SystemLog::report(SystemLog::SourceMissing, SystemLog::Type::Error,
                          path + QStringLiteral(" 此路径的文件夹不存在！"));
        emit sendNoDirMessage(path);
    };
    visitor.matchingFile = [this, &suffix](const QString &path) { archiveMatch(path, suffix); };
    // A row of its own, as a failed archive has: whatever backups it holds are missing.
    visitor.unreadableDirectory = [this](const QString &path, const QString &reason) {
        ++m_totals.failed;
        SystemLog::report(SystemLog::DirectoryUnreadable, SystemLog::Type::Error,
                          QStringLiteral("此文件夹无法读取：%1。原因：%2").arg(path, reason));
        emit sendMessage(path);
        emit sendFailed(path, reason);
    };
    visitor.stopped = [this] {
        keepOutput();
        return aborted() || m_outputBusy;
    };
    TreeWalk(suffix, visitor).walk(directory);
}

// A file that fails costs only its own archive: the walk goes on with the next entry.
// It still gets its row first, so the failure has a place to be shown.
void CompressTask::archiveMatch(const QString &filePath, const QString &suffix)
{
    m_found = true;
    ++m_totals.found;
    if (!holdOutput())
        return;
    QFile source(filePath);
    const bool readable = source.open(QIODevice::ReadOnly);
    m_sourceSize = readable ? source.size() : 0;
    source.close();

    const QString name = filePath.split(QLatin1Char('/')).last();
    const QString stem = name.left(name.size() - suffix.size());
    m_archivePath = m_outputDir + stem + QStringLiteral(".rar");
    emit sendMessage(m_archivePath);
    removeLeftovers();
    if (!readable)
        return fail(filePath, source.errorString());
    const ArchiveCheck archive(m_archivePath);
    if (archive.holds(filePath)) {
        ++m_totals.unchanged;
        emit sendUnchanged(m_archivePath, double(archive.archiveSize()) * kMiB);
        return;
    }
    QString reason;
    bool written = false;
    try {
        written = archiveFile(m_archivePath, filePath, &reason);
    } catch (const std::bad_alloc &) {
        // Everything of the archive is undone on the way out here; the job goes on.
        reason = outOfMemory();
    }
    if (written) {
        ++m_totals.written;
        m_totals.bytesRead += m_sourceSize;
        m_totals.bytesWritten += m_archiveBytes;
    } else {
        fail(filePath, reason);
    }
}

// What an interrupted job of this program left for this archive: no job but this one writes
// here while it holds the lock, so none of it is being written.
void CompressTask::removeLeftovers()
{
    if (!m_outputLock)
        return;
    for (const QString &leftover : qAsConst(m_leftovers)) {
        if (WholeFile::isTemporaryOf(leftover, m_archivePath))
            QFile::remove(leftover);
    }
}

void CompressTask::fail(const QString &sourcePath, const QString &reason)
{
    // An interrupted archive is not a failure of the archive.
    if (aborted())
        return;
    ++m_totals.failed;
    SystemLog::report(SystemLog::ArchiveFailed, SystemLog::Type::Error,
                      QStringLiteral("压缩失败：%1。备份文件：%2。原因：%3").arg(m_archivePath, sourcePath, reason));
    emit sendFailed(m_archivePath, reason);
}

bool CompressTask::archiveFile(QString archivePath, QString sourcePath, QString *reason)
{
    // Asked between the source's chunks: often enough to keep the lock fresh.
    ArchiveWriter writer(ArchiveWriter::defaultCompressors(), [this] {
        keepOutput();
        return aborted();
    });
    m_bytesCopied = 0;
    m_archiveBytes = 0;
    const bool written = writer.write(sourcePath, archivePath, [this](qint64 read, qint64 archiveBytes) {
        m_bytesCopied = read;
        m_archiveBytes = archiveBytes;
        emit sendProgress(percentage(read, m_sourceSize), double(archiveBytes) * kMiB);
    });
    *reason = writer.errorString();
    return written;
}
