#include "filetime.h"

#include <QDir>
#include <QFile>

#include <limits>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

#ifndef Q_OS_WIN
constexpr qint64 kTicksPerSecond = 10000000;
constexpr qint64 kSecondsFrom1601To1970 = 11644473600LL;

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
