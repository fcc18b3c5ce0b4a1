#include "archiveoutcome.h"

SystemLog::Event ArchiveOutcome::logEvent() const
{
    if (kind == Kind::UnreadableDirectory)
        return SystemLog::DirectoryUnreadable;
    return reserveReached ? SystemLog::ReserveReached : SystemLog::ArchiveFailed;
}

QString ArchiveOutcome::logText() const
{
    if (kind == Kind::UnreadableDirectory)
        return QStringLiteral("此文件夹无法读取：%1。原因：%2").arg(archivePath, reason);
    return QStringLiteral("压缩失败：%1。备份文件：%2。原因：%3").arg(archivePath, sourcePath, reason);
}
