#include "compresstask.h"

#include "backupjob.h"
#include "filenamecodec.h"
#include "outputlock.h"
#include "systemerror.h"
#include "systemlog.h"
#include "threadpriority.h"

#include <QMutexLocker>

#include <new>

namespace {

constexpr unsigned long kPauseMs = 200;
// A slot run later than this after its time was caught up, not met.
constexpr qint64 kLateSecs = 60;

QString shownTime(const QDateTime &moment)
{
    return moment.toString(QStringLiteral("yyyy-M-d h:mm:ss"));
}

} // namespace

CompressTask::CompressTask(QObject *parent)
    : QThread(parent)
    , m_clock([] { return QDateTime::currentDateTime(); })
{
    FileNameCodec::install();
    // Its reports cross into the window's thread.
    qRegisterMetaType<ArchiveOutcome>();
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

    m_sourceDir = sourceDir;
    m_suffix = suffix;
    m_idle = 0;
    m_found = false;
    m_unattended = unattended;
    m_stopRequested = false;
    m_abortRequested = false;
    m_report = JobReport();
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
                          QStringLiteral("压缩任务中断：%1").arg(SystemError::outOfMemory()));
        m_report.aborted = true;
        m_idle = 1;
        emit sendTaskFinished();
    }
}

void CompressTask::runNow()
{
    runJob();
    if (m_report.outputBusy && !aborted()) {
        m_idle = 1;
        emit sendOutputBusy(m_outputDir, m_report.outputBusyReason);
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
            if (aborted() || m_report.outputBusy)
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

// One walk of the tree; the job tells the system's log of it itself.
void CompressTask::runJob()
{
    BackupJob::Hooks hooks;
    hooks.announced = [this](const QString &archivePath) {
        emit sendMessage(archivePath);
        return m_announced++;
    };
    hooks.progress = [this](int percent, double mebibytes) { emit sendProgress(percent, mebibytes); };
    hooks.sourceMissing = [this](const QString &directory) { emit sendNoDirMessage(directory); };
    hooks.archived = [this](const ArchiveOutcome &outcome) { emit sendOutcome(outcome); };
    hooks.aborted = [this] { return aborted(); };
    // A daily job waits for another job that holds the output directory.
    if (m_unattended)
        hooks.stopWaiting = [this] { return m_stopRequested || aborted(); };
    hooks.pause = [this] { pause(); };
    m_report = BackupJob(m_sourceDir, m_suffix, m_outputDir, std::move(hooks)).run();
    if (!m_report.nothingFound())
        m_found = true;
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

void CompressTask::pause()
{
    QMutexLocker locker(&m_pauseMutex);
    if (!aborted())
        m_wakeUp.wait(&m_pauseMutex, kPauseMs);
}
