#include "writebehind.h"

#include <QFileDevice>

#include <atomic>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#endif

namespace {

std::atomic<bool> enabled{true};

} // namespace

void WriteBehind::setEnabled(bool on)
{
    enabled = on;
}

WriteBehind::WriteBehind(QFileDevice &file)
{
#ifdef Q_OS_LINUX
    if (enabled)
        m_fd = file.handle();
#else
    Q_UNUSED(file);
#endif
}

// A range is started once written, and waited for and dropped one range later, so that the
// writer seldom waits for the disk.
bool WriteBehind::wroteUpTo(qint64 offset)
{
#ifdef Q_OS_LINUX
    while (m_fd >= 0 && m_started + kRange <= offset) {
        if (!sync(m_started, SYNC_FILE_RANGE_WRITE))
            return m_error.isEmpty();
        m_started += kRange;
        if (m_started - m_dropped <= kRange)
            continue;
        // Waiting reports the disk's error, and only once: it must not be lost here.
        if (!sync(m_dropped, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER))
            return m_error.isEmpty();
        ::posix_fadvise(m_fd, m_dropped, kRange, POSIX_FADV_DONTNEED);
        m_dropped += kRange;
    }
#else
    Q_UNUSED(offset);
#endif
    return true;
}

#ifdef Q_OS_LINUX
bool WriteBehind::sync(qint64 start, unsigned int flags)
{
    if (::sync_file_range(m_fd, start, kRange, flags) == 0)
        return true;
    // A file system that cannot do it: the cache is left to the system.
    if (errno != EINVAL && errno != ESPIPE && errno != ENOSYS)
        m_error = qt_error_string(errno);
    m_fd = -1;
    return false;
}
#endif
