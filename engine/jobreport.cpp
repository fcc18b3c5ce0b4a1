#include "jobreport.h"

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 2);
}

} // namespace

void JobReport::add(const ArchiveOutcome &outcome)
{
    switch (outcome.kind) {
    case ArchiveOutcome::Kind::Written:
        ++written;
        bytesRead += outcome.bytesRead;
        bytesWritten += outcome.bytesWritten;
        break;
    case ArchiveOutcome::Kind::Unchanged:
        ++unchanged;
        break;
    case ArchiveOutcome::Kind::Failed:
    case ArchiveOutcome::Kind::UnreadableDirectory:
        ++failed;
        break;
    }
}

SystemLog::Type JobReport::logType() const
{
    if (written + unchanged == 0)
        return SystemLog::Type::Error;
    return failed > 0 ? SystemLog::Type::Warning : SystemLog::Type::Information;
}

QString JobReport::logText() const
{
    return QStringLiteral("压缩任务结束：写入压缩文件 %1 个，失败 %2 个，未变化 %3 个；读取 %4 MB，"
                          "写入 %5 MB，用时 %6 秒。需要执行任务的目录：%7；输出压缩文件的目录：%8")
        .arg(written).arg(failed).arg(unchanged)
        .arg(megabytes(bytesRead), megabytes(bytesWritten))
        .arg(seconds, 0, 'f', 1).arg(sourceDir, outputDir);
}
