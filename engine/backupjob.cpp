#include "backupjob.h"

#include "archivecheck.h"
#include "archivewriter.h"
#include "lastsuccessfile.h"
#include "outputlock.h"
#include "outputreserve.h"
#include "systemerror.h"
#include "treewalk.h"
#include "wholefile.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <new>

namespace {

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

BackupJob::BackupJob(const QString &sourceDir, const QString &suffix, const QString &outputDir, Hooks hooks)
    : m_sourceDir(sourceDir)
    , m_suffix(suffix)
    , m_outputDir(outputDir)
    , m_hooks(std::move(hooks))
{
}

BackupJob::~BackupJob() = default;

QString BackupJob::archivePathFor(const QString &outputDir, const QString &sourcePath, const QString &suffix)
{
    const QString name = sourcePath.split(QLatin1Char('/')).last();
    return outputDir + name.left(name.size() - suffix.size()) + QStringLiteral(".rar");
}

JobReport BackupJob::run()
{
    m_report = JobReport();
    m_report.sourceDir = m_sourceDir;
    m_report.outputDir = m_outputDir;
    QElapsedTimer timer;
    timer.start();
    m_settings = JobSettings::read(QLatin1String(JobSettings::kFileName));

    TreeWalk::Visitor visitor;
    visitor.missingDirectory = [this](const QString &path) {
        m_report.sourceFound = false;
        SystemLog::report(SystemLog::SourceMissing, SystemLog::Type::Error,
                          path + QStringLiteral(" 此路径的文件夹不存在！"));
        m_hooks.sourceMissing(path);
    };
    visitor.matchingFile = [this](const QString &path) { archiveMatch(path); };
    visitor.unreadableDirectory = [this](const QString &path, const QString &reason) {
        unreadableDirectory(path, reason);
    };
    visitor.stopped = [this] {
        keepOutput();
        return stopped();
    };
    TreeWalk(m_suffix, visitor).walk(m_sourceDir);

    m_report.aborted = m_hooks.aborted();
    m_report.seconds = double(timer.elapsed()) / 1000.0;
    if (LastSuccessFile::earnedBy(m_report))
        markSuccess();
    m_outputLock.reset();
    if (m_report.aborted || m_report.outputBusy)
        return m_report;
    if (m_report.nothingFound() && m_report.sourceFound)
        SystemLog::report(SystemLog::NothingFound, SystemLog::Type::Warning,
                          QStringLiteral("在此文件夹中未搜索到 .bak 文件：%1").arg(m_sourceDir));
    SystemLog::report(SystemLog::JobEnded, m_report.logType(), m_report.logText());
    return m_report;
}

bool BackupJob::stopped() const
{
    return m_hooks.aborted() || m_report.outputBusy;
}

// A file that fails costs only its own archive: the walk goes on with the next entry.
// It still gets its row first, so the failure has a place to be shown.
void BackupJob::archiveMatch(const QString &filePath)
{
    ++m_report.found;
    if (!holdOutput())
        return;
    QFile source(filePath);
    const bool readable = source.open(QIODevice::ReadOnly);
    const qint64 sourceSize = readable ? source.size() : 0;
    source.close();

    ArchiveOutcome outcome = announce(archivePathFor(m_outputDir, filePath, m_suffix), filePath);
    removeLeftovers(outcome.archivePath);
    if (!readable) {
        outcome.reason = source.errorString();
        return finish(outcome);
    }
    const ArchiveCheck archive(outcome.archivePath);
    if (archive.holds(filePath)) {
        outcome.kind = ArchiveOutcome::Kind::Unchanged;
        outcome.bytesWritten = archive.archiveSize();
        return finish(outcome);
    }
    bool written = false;
    try {
        written = writeArchive(outcome, sourceSize);
    } catch (const std::bad_alloc &) {
        // Everything of the archive is undone on the way out here; the job goes on.
        outcome.reason = SystemError::outOfMemory();
    }
    outcome.kind = written ? ArchiveOutcome::Kind::Written : ArchiveOutcome::Kind::Failed;
    finish(outcome);
}

// A row of its own, as a failed archive has: whatever backups it holds are missing.
void BackupJob::unreadableDirectory(const QString &directory, const QString &reason)
{
    ArchiveOutcome outcome = announce(directory, QString());
    outcome.kind = ArchiveOutcome::Kind::UnreadableDirectory;
    outcome.reason = reason;
    finish(outcome);
}

ArchiveOutcome BackupJob::announce(const QString &archivePath, const QString &sourcePath)
{
    ArchiveOutcome outcome;
    outcome.index = m_hooks.announced(archivePath);
    outcome.archivePath = archivePath;
    outcome.sourcePath = sourcePath;
    return outcome;
}

void BackupJob::finish(ArchiveOutcome outcome)
{
    // An interrupted archive is not a failure of the archive.
    if (outcome.failed() && m_hooks.aborted())
        return;
    m_report.add(outcome);
    if (outcome.failed())
        SystemLog::report(outcome.logEvent(), SystemLog::Type::Error, outcome.logText());
    m_hooks.archived(outcome);
}

bool BackupJob::writeArchive(ArchiveOutcome &outcome, qint64 sourceSize)
{
    OutputReserve reserve(m_outputDir, m_settings.reserve);
    // Asked between the source's chunks: often enough to keep the lock fresh.
    ArchiveWriter writer(m_settings.compressors(), [this] {
        keepOutput();
        return m_hooks.aborted();
    }, &reserve);
    const bool written = writer.write(outcome.sourcePath, outcome.archivePath,
                                      [&](qint64 read, qint64 archiveBytes) {
                                          outcome.bytesRead = read;
                                          outcome.bytesWritten = archiveBytes;
                                          m_hooks.progress(percentage(read, sourceSize), double(archiveBytes) * kMiB);
                                      });
    outcome.reason = writer.errorString();
    outcome.reserveReached = writer.reserveReached();
    return written;
}

// Written while the lock is still held, so that no other job writes it meanwhile.
void BackupJob::markSuccess()
{
    removeLeftovers(m_outputDir + QLatin1String(LastSuccessFile::kFileName));
    QString reason;
    if (!LastSuccessFile::write(m_report, QDateTime::currentDateTime(), &reason))
        SystemLog::report(SystemLog::LastSuccessUnwritten, SystemLog::Type::Warning,
                          QStringLiteral("未能写入 %1%2：%3").arg(m_outputDir, QLatin1String(LastSuccessFile::kFileName), reason));
}

// Taken before the job's first archive, so that a job that writes nothing leaves no trace.
// A daily job waits for another job to end; a job to run now gives up. A lock that cannot
// even be made (an output directory that cannot be created) does not stop the job: its
// archives then fail one by one, each with its reason.
bool BackupJob::holdOutput()
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
        if (!m_hooks.stopWaiting || m_hooks.stopWaiting()) {
            m_report.outputBusy = true;
            m_report.outputBusyReason = lock->reason();
            return false;
        }
        if (!toldWaiting)
            SystemLog::report(SystemLog::WaitingForLock, SystemLog::Type::Information,
                              QStringLiteral("无人值守任务等待另一个任务结束：%1").arg(lock->reason()));
        toldWaiting = true;
        m_hooks.pause();
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
void BackupJob::keepOutput()
{
    if (m_outputLock)
        m_outputLock->refresh();
}

// What an interrupted job of this program left for this file (an archive, the success mark):
// no job but this one writes here while it holds the lock, so none of it is being written.
void BackupJob::removeLeftovers(const QString &finalPath)
{
    if (!m_outputLock)
        return;
    for (const QString &leftover : qAsConst(m_leftovers)) {
        if (WholeFile::isTemporaryOf(leftover, finalPath))
            QFile::remove(leftover);
    }
}
