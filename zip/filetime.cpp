#include "filetime.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDevice>

#include <limits>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#endif

namespace {

constexpr qint64 kTicksPerSecond = 10000000;
constexpr qint64 kSecondsFrom1601To1970 = 11644473600LL;

#ifndef Q_OS_WIN
qint64 fromUnixTime(qint64 seconds, long nanoseconds)
{
    const qint64 sinceFrom1601 = seconds + kSecondsFrom1601To1970;
    if (sinceFrom1601 < 0 || sinceFrom1601 > std::numeric_limits<qint64>::max() / kTicksPerSecond - 1)
        return -1;
    return sinceFrom1601 * kTicksPerSecond + nanoseconds / 100;
}
#endif

} // namespace

qint64 FileTime::exactModification(const QString &path)
{
#ifdef Q_OS_WIN
    // Opened for its attributes alone, beside any other program's handle; a link is
    // followed, as reading the file follows it.
    const HANDLE handle = CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(),
                                      FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    FILETIME written;
    const bool known = GetFileTime(handle, nullptr, nullptr, &written);
    CloseHandle(handle);
    const quint64 time = (quint64(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    return known && time <= quint64(std::numeric_limits<qint64>::max()) ? qint64(time) : -1;
#else
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return fromUnixTime(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
#endif
}

bool FileTime::setModification(QFileDevice &file, qint64 time, QString *reason)
{
    if (time < 0) {
        *reason = QStringLiteral("no time to set");
        return false;
    }
#ifdef Q_OS_WIN
    FILETIME written;
    written.dwLowDateTime = DWORD(quint64(time) & 0xFFFFFFFFu);
    written.dwHighDateTime = DWORD(quint64(time) >> 32);
    const HANDLE handle = HANDLE(_get_osfhandle(file.handle()));
    if (SetFileTime(handle, nullptr, nullptr, &written))
        return true;
    *reason = qt_error_string(int(GetLastError()));
    return false;
#else
    // Both times: the access time as the modification, as an extracting tool leaves them.
    const qint64 seconds = time / kTicksPerSecond - kSecondsFrom1601To1970;
    const struct timespec times[2] = {{seconds, long(time % kTicksPerSecond) * 100},
                                      {seconds, long(time % kTicksPerSecond) * 100}};
    if (::futimens(file.handle(), times) == 0)
        return true;
    *reason = qt_error_string(errno);
    return false;
#endif
}

qint64 FileTime::fromDateTime(const QDateTime &time)
{
    if (!time.isValid())
        return -1;
    return (time.toMSecsSinceEpoch() + kSecondsFrom1601To1970 * 1000) * (kTicksPerSecond / 1000);
}
