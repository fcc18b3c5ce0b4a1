#include "sourcepagecache.h"

#include <QFile>

#include <algorithm>
#include <atomic>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

std::atomic<bool> enabled{true};

#ifdef Q_OS_LINUX
qint64 pageSize()
{
    static const qint64 size = ::sysconf(_SC_PAGESIZE);
    return size;
}
#endif

} // namespace

void SourcePageCache::setEnabled(bool on)
{
    enabled = on;
}

SourcePageCache::SourcePageCache(QFile &file)
{
#ifdef Q_OS_LINUX
    struct stat status;
    if (!enabled || ::fstat(file.handle(), &status) != 0 || !S_ISREG(status.st_mode))
        return;
    m_fd = file.handle();
    m_size = status.st_size;
    sampleUpTo(2 * kRange);
#else
    Q_UNUSED(file);
#endif
}

SourcePageCache::~SourcePageCache()
{
    for (const Range &range : m_ranges)
        drop(range);
}

void SourcePageCache::readUpTo(qint64 offset)
{
    if (m_fd < 0)
        return;
    // The range being read and the next are sampled already: sample the one after them
    // before read-ahead gets there.
    sampleUpTo(offset / kRange * kRange + 3 * kRange);
    while (!m_ranges.empty() && m_ranges.front().start + kRange <= offset) {
        drop(m_ranges.front());
        m_ranges.pop_front();
    }
}

void SourcePageCache::sampleUpTo(qint64 end)
{
#ifdef Q_OS_LINUX
    while (m_sampledEnd < end && m_sampledEnd < m_size) {
        Range range;
        range.start = m_sampledEnd;
        const qint64 length = std::min(kRange, m_size - range.start);
        range.resident.assign(size_t((length + pageSize() - 1) / pageSize()), 1);
        // Mapped only to be asked: no page of it is touched. Where it cannot be asked, every
        // page counts as cached before, and nothing of it is dropped.
        void *mapping = ::mmap(nullptr, size_t(length), PROT_READ, MAP_SHARED, m_fd, range.start);
        if (mapping != MAP_FAILED) {
            if (::mincore(mapping, size_t(length), range.resident.data()) != 0)
                range.resident.assign(range.resident.size(), 1);
            ::munmap(mapping, size_t(length));
        }
        m_ranges.push_back(std::move(range));
        m_sampledEnd += length;
    }
#else
    Q_UNUSED(end);
#endif
}

// Each run of pages that were not resident, in one call.
void SourcePageCache::drop(const Range &range) const
{
#ifdef Q_OS_LINUX
    const size_t pages = range.resident.size();
    for (size_t first = 0; first < pages;) {
        if (range.resident[first] & 1) {
            ++first;
            continue;
        }
        size_t end = first;
        while (end < pages && !(range.resident[end] & 1))
            ++end;
        ::posix_fadvise(m_fd, range.start + qint64(first) * pageSize(), qint64(end - first) * pageSize(),
                        POSIX_FADV_DONTNEED);
        first = end;
    }
#else
    Q_UNUSED(range);
#endif
}

void SourcePageCache::preferSequential(QFile &file)
{
#ifdef Q_OS_WIN
    if (!enabled)
        return;
    const HANDLE opened = HANDLE(_get_osfhandle(file.handle()));
    if (opened == INVALID_HANDLE_VALUE)
        return;
    // The same access and sharing as Qt's own open, so nobody else is kept out.
    const HANDLE sequential = ReOpenFile(opened, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         FILE_FLAG_SEQUENTIAL_SCAN);
    if (sequential == INVALID_HANDLE_VALUE)
        return;
    const int descriptor = _open_osfhandle(intptr_t(sequential), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(sequential);
        return;
    }
    const QIODevice::OpenMode mode = file.openMode();
    const QString name = file.fileName();
    file.close();
    if (!file.open(descriptor, mode, QFileDevice::AutoCloseHandle)) {
        _close(descriptor);
        file.setFileName(name);
        file.open(mode);
    }
#else
    Q_UNUSED(file);
#endif
}
