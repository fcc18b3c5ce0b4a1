#include "schedulefile.h"

#include "wholefile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

constexpr qint64 kMaxFileSize = 4096;
const char kHeader[] = "[daily]";
const char kTimeFormat[] = "h:mm";

QHash<QByteArray, QByteArray> readKeys(const QString &fileName)
{
    QHash<QByteArray, QByteArray> keys;
    // Only a regular file: a FIFO would hold start-up.
    if (!QFileInfo(fileName).isFile())
        return keys;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize)
        return keys;
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.isEmpty() || lines.first().trimmed() != kHeader)
        return keys;
    for (const QByteArray &line : lines.mid(1)) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

} // namespace

ScheduleState ScheduleFile::read(const QString &fileName)
{
    const QHash<QByteArray, QByteArray> keys = readKeys(fileName);
    ScheduleState state;
    state.time = QTime::fromString(QString::fromLatin1(keys.value("time")), QLatin1String(kTimeFormat));
    state.lastSlot = QDateTime::fromString(QString::fromLatin1(keys.value("last")), Qt::ISODate);
    state.on = keys.value("on") == "1" && state.time.isValid();
    return state;
}

bool ScheduleFile::write(const QString &fileName, const ScheduleState &state)
{
    QByteArray text = QByteArray(kHeader) + "\non=" + (state.on ? "1" : "0") + "\n";
    if (state.time.isValid())
        text += "time=" + state.time.toString(QLatin1String(kTimeFormat)).toLatin1() + "\n";
    // In UTC: a local time is ambiguous on the night the clocks go back.
    if (state.lastSlot.isValid())
        text += "last=" + state.lastSlot.toUTC().toString(Qt::ISODate).toLatin1() + "\n";
    WholeFile file(fileName);
    return file.open() && file.device().write(text) == text.size() && file.commit();
}

bool ScheduleFile::writeMode(const QString &fileName, bool on, const QTime &time)
{
    ScheduleState state = read(fileName);
    state.on = on;
    state.time = time;
    return write(fileName, state);
}

bool ScheduleFile::writeLastSlot(const QString &fileName, const QDateTime &lastSlot)
{
    ScheduleState state = read(fileName);
    state.lastSlot = lastSlot;
    return write(fileName, state);
}
