#include "lastsuccessfile.h"

#include "printablename.h"
#include "wholefile.h"

bool LastSuccessFile::earnedBy(const JobReport &report)
{
    return !report.aborted && !report.outputBusy && report.failed == 0 && report.written + report.unchanged > 0;
}

bool LastSuccessFile::write(const JobReport &report, const QDateTime &ended, QString *reason)
{
    const QString path = report.outputDir + QLatin1String(kFileName);
    // The output directory may be writable by others: a link there is replaced, not followed.
    WholeFile file(path, WholeFile::Links::Replaced);
    const QByteArray bytes = text(report, ended);
    if (!file.open() || file.device().write(bytes) != bytes.size() || !file.commit()) {
        *reason = file.errorString().isEmpty() ? file.device().errorString() : file.errorString();
        return false;
    }
    return true;
}

QByteArray LastSuccessFile::text(const JobReport &report, const QDateTime &ended)
{
    const QDateTime local = ended.toLocalTime();
    QString text;
    auto line = [&text](const char *key, const QString &value) {
        text += QLatin1String(key) + QLatin1Char('=') + PrintableName::text(value) + QLatin1Char('\n');
    };
    line("ended", local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate));
    line("ended_utc", ended.toUTC().toString(Qt::ISODate));
    line("written", QString::number(report.written));
    line("unchanged", QString::number(report.unchanged));
    line("bytes_read", QString::number(report.bytesRead));
    line("bytes_written", QString::number(report.bytesWritten));
    line("seconds", QString::number(report.seconds, 'f', 1));
    line("source", report.sourceDir);
    line("output", report.outputDir);
    return text.toUtf8();
}
