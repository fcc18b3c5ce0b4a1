#include "verifyjob.h"

#include "archiveverifier.h"
#include "archivewriter.h"
#include "jobsettings.h"
#include "outputreserve.h"
#include "backupjob.h"
#include "filetime.h"
#include "outputlock.h"
#include "treewalk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

QString VerifyJob::Outcome::logText() const
{
    QString text = QStringLiteral("压缩文件已损坏：%1。原因：%2。").arg(archivePath, reason);
    if (repaired)
        return text + QStringLiteral("已从备份文件 %1 重新写入。").arg(backupPath);
    return text + QStringLiteral("未重新写入：%1").arg(notRepairedReason);
}

SystemLog::Type VerifyJob::Report::logType() const
{
    return damaged > 0 ? SystemLog::Type::Warning : SystemLog::Type::Information;
}

QString VerifyJob::Report::logText() const
{
    return QStringLiteral("校验结束：完好 %1 个，损坏 %2 个，其中重新写入 %3 个；用时 %4 秒。目录：%5")
        .arg(whole).arg(damaged).arg(repaired).arg(seconds, 0, 'f', 1).arg(directory);
}

VerifyJob::VerifyJob(const QString &directory, const QString &sourceDir, const QString &suffix, Archived archived)
    : m_directory(directory.endsWith(QLatin1Char('/')) ? directory : directory + QLatin1Char('/'))
    , m_sourceDir(sourceDir)
    , m_suffix(suffix)
    , m_archived(std::move(archived))
{
}

VerifyJob::Report VerifyJob::run()
{
    Report report;
    report.directory = m_directory;
    QElapsedTimer timer;
    timer.start();
    const QDir dir(m_directory);
    if (!QFileInfo(m_directory).isDir()) {
        report.directoryFound = false;
        return report;
    }
    // The names the job writes; hidden ones are its temporaries and locks.
    const QStringList names = dir.entryList({QStringLiteral("*.rar")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names) {
        const Outcome outcome = verify(m_directory + name);
        ++report.archives;
        if (outcome.whole) {
            ++report.whole;
        } else {
            ++report.damaged;
            report.repaired += outcome.repaired ? 1 : 0;
            SystemLog::report(outcome.logEvent(), SystemLog::Type::Error, outcome.logText());
        }
        m_archived(outcome);
    }
    report.seconds = double(timer.elapsed()) / 1000.0;
    if (report.archives > 0)
        SystemLog::report(SystemLog::VerifyEnded, report.logType(), report.logText());
    return report;
}

VerifyJob::Outcome VerifyJob::verify(const QString &archivePath)
{
    Outcome outcome;
    outcome.archivePath = archivePath;
    bool headersRead = false;
    ZipEntryReader::Entry entry;
    {
        ArchiveVerifier verifier(archivePath);
        headersRead = verifier.readHeaders();
        outcome.whole = headersRead && verifier.inflate();
        if (outcome.whole)
            return outcome;
        outcome.reason = verifier.errorString();
        entry = verifier.entry();
    } // closed: Windows replaces no file that a handle of ours still holds
    if (!headersRead)
        outcome.notRepairedReason = QStringLiteral("其头部无法读取，无从确认其备份文件");
    else
        repair(outcome, entry.name, entry.size, entry.modified);
    return outcome;
}

void VerifyJob::repair(Outcome &outcome, const QString &name, quint64 size, qint64 modified)
{
    if (m_sourceDir.isEmpty()) {
        outcome.notRepairedReason = QStringLiteral("未指定需要执行任务的目录");
        return;
    }
    const QString backup = backupFor(outcome.archivePath);
    const QFileInfo info(backup);
    // Only the very backup it was made from: another one would hide what was lost.
    if (backup.isEmpty() || info.fileName() != name || quint64(info.size()) != size || modified < 0
        || FileTime::exactModification(backup) != modified) {
        outcome.notRepairedReason = QStringLiteral("备份文件已不在或已改变，保持原样");
        return;
    }
    OutputLock lock(m_directory);
    const OutputLock::Outcome locked = lock.tryLock();
    if (locked != OutputLock::Outcome::Held && locked != OutputLock::Outcome::Unavailable) {
        outcome.notRepairedReason = lock.reason();
        return;
    }
    // Written as the job writes it, with the operator's settings of now.
    const JobSettings settings = JobSettings::read(QLatin1String(JobSettings::kFileName));
    OutputReserve reserve(m_directory, settings.reserve);
    ArchiveWriter writer(settings.compressors(), [&lock] {
        lock.refresh();
        return false;
    }, &reserve);
    if (!writer.write(backup, outcome.archivePath, [](qint64, qint64) {})) {
        outcome.notRepairedReason = writer.errorString();
        return;
    }
    outcome.repaired = true;
    outcome.backupPath = backup;
}

// The later backup of a name wins, as it does when the job writes the archives.
QString VerifyJob::backupFor(const QString &archivePath)
{
    if (!m_walked) {
        m_walked = true;
        TreeWalk::Visitor visitor;
        visitor.missingDirectory = [](const QString &) {};
        visitor.unreadableDirectory = [](const QString &, const QString &) {};
        visitor.stopped = [] { return false; };
        visitor.matchingFile = [this](const QString &path) {
            m_backups.insert(BackupJob::archivePathFor(m_directory, path, m_suffix), path);
        };
        TreeWalk(m_suffix, visitor).walk(m_sourceDir);
    }
    return m_backups.value(archivePath);
}
