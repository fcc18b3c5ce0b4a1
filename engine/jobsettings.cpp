#include "jobsettings.h"

#include "archivewriter.h"
#include "systemlog.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// Far beyond a few keys; a larger file is not one an operator wrote for us.
constexpr qint64 kMaxFileSize = 64 * 1024;
constexpr qint64 kDefaultReserveCap = qint64(10) << 30;
constexpr double kDefaultReservePercent = 5.0;
constexpr int kMaxThreads = 1024;

bool parseReserve(const QString &value, JobSettings::Reserve *reserve)
{
    static const QRegularExpression percent(QStringLiteral("^(\\d+(?:\\.\\d+)?)\\s*%$"));
    static const QRegularExpression size(QStringLiteral("^(\\d+(?:\\.\\d+)?)\\s*([kmgt]?)(?:i?b)?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatch match = percent.match(value);
    if (match.hasMatch()) {
        const double share = match.captured(1).toDouble();
        if (share >= 100)
            return false;
        reserve->kind = JobSettings::Reserve::Kind::Percent;
        reserve->percent = share;
        return true;
    }
    match = size.match(value);
    if (!match.hasMatch())
        return false;
    const QString unit = match.captured(2).toLower();
    const int shift = unit.isEmpty() ? 0 : 10 * (1 + int(QStringLiteral("kmgt").indexOf(unit)));
    const double bytes = std::ldexp(match.captured(1).toDouble(), shift);
    // Bytes come whole; and no volume is larger than this.
    if ((shift == 0 && match.captured(1).contains(QLatin1Char('.'))) || bytes >= std::ldexp(1.0, 62))
        return false;
    reserve->kind = JobSettings::Reserve::Kind::Bytes;
    reserve->bytes = qint64(bytes);
    return true;
}

} // namespace

qint64 JobSettings::Reserve::bytesOn(qint64 totalBytes) const
{
    switch (kind) {
    case Kind::Default:
        return std::min(qint64(double(totalBytes) * kDefaultReservePercent / 100.0), kDefaultReserveCap);
    case Kind::Percent:
        return qint64(double(totalBytes) * percent / 100.0);
    case Kind::Bytes:
        break;
    }
    return bytes;
}

QString JobSettings::Reserve::text() const
{
    return kind == Kind::Default ? QStringLiteral("5%（默认，至多 10 GB）") : written;
}

JobSettings JobSettings::read(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return JobSettings();
    QStringList problems;
    JobSettings settings;
    QFile file(path);
    // Only a regular file: a FIFO would hold the job, a device could be read without end.
    if (!info.isFile())
        problems << QStringLiteral("不是普通文件");
    else if (info.size() > kMaxFileSize)
        problems << QStringLiteral("文件过大（超过 64 KB）");
    else if (!file.open(QIODevice::ReadOnly))
        problems << file.errorString();
    else
        settings = parse(file.read(kMaxFileSize), &problems);
    if (!problems.isEmpty())
        SystemLog::report(SystemLog::SettingsIgnored, SystemLog::Type::Warning,
                          QStringLiteral("%1 中的设置未被采用，已改用默认值：%2")
                              .arg(info.absoluteFilePath(), problems.join(QStringLiteral("；"))));
    return settings;
}

JobSettings JobSettings::parse(const QByteArray &text, QStringList *problems)
{
    JobSettings settings;
    QString section;
    // Notepad begins a UTF-8 file with a byte order mark.
    const QStringList lines = QString::fromUtf8(text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text)
                                  .split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            *problems << QStringLiteral("第 %1 行无法识别：%2").arg(i + 1).arg(line);
            continue;
        }
        settings.take(section, line.left(equals).trimmed().toLower(), line.mid(equals + 1).trimmed(), problems);
    }
    return settings;
}

void JobSettings::take(const QString &section, const QString &key, const QString &value, QStringList *problems)
{
    const QString named = QStringLiteral("[%1] %2=%3").arg(section, key, value);
    if (section == QLatin1String("output") && key == QLatin1String("reserve")) {
        Reserve parsed;
        if (parseReserve(value, &parsed)) {
            reserve = parsed;
            reserve.written = value;
        } else {
            *problems << named + QStringLiteral("（值无效，应为百分比如 5%、大小如 500M 或 20G，或 0）");
        }
    } else if (section == QLatin1String("job") && key == QLatin1String("threads")) {
        bool number = false;
        const int count = value.toInt(&number);
        if (number && count >= 1 && count <= kMaxThreads)
            threads = count;
        else
            *problems << named + QStringLiteral("（值无效，应为 1 到 %1 之间的整数）").arg(kMaxThreads);
    } else {
        *problems << named + QStringLiteral("（未知的设置）");
    }
}

int JobSettings::compressors() const
{
    const int machine = ArchiveWriter::defaultCompressors();
    return threads > 0 ? std::min(threads, machine) : machine;
}
