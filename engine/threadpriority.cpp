#include "threadpriority.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include <windows.h>
#elif defined(Q_OS_LINUX)
#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#if defined(Q_OS_LINUX)
namespace {

// From linux/ioprio.h, which glibc does not wrap.
constexpr int kWhoProcess = 1; // a thread id counts as a process here
constexpr int kClassShift = 13;
constexpr int kClassBestEffort = 2;
constexpr int kClassIdle = 3;

int ioPriority(int ioClass, int level)
{
    return (ioClass << kClassShift) | level;
}

void lowerIoOfThisThread(id_t tid)
{
    if (syscall(SYS_ioprio_set, kWhoProcess, tid, ioPriority(kClassIdle, 0)) != 0)
        syscall(SYS_ioprio_set, kWhoProcess, tid, ioPriority(kClassBestEffort, 7));
}

} // namespace
#endif

int ThreadPriority::ioClassOfThisThread(int *level)
{
#if defined(Q_OS_LINUX)
    const long value = syscall(SYS_ioprio_get, kWhoProcess, id_t(syscall(SYS_gettid)));
    if (value < 0)
        return -1;
    if (level)
        *level = int(value & ((1 << kClassShift) - 1));
    return int(value >> kClassShift);
#else
    Q_UNUSED(level);
    return -1;
#endif
}

void ThreadPriority::lowerThisThread()
{
#if defined(Q_OS_WIN)
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    // Its I/O and memory priority too: the database's reads come first.
    SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN);
#elif defined(Q_OS_LINUX)
    // Linux's normal scheduler has no thread priorities; nice belongs to the thread, and
    // setpriority on a thread id changes that thread only.
    const auto tid = id_t(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, std::min(nice + 10, 19));
    lowerIoOfThisThread(tid);
#endif
}
