#ifndef THREADPRIORITY_H
#define THREADPRIORITY_H

// Below normal priority for the calling thread, so that a busy server's own work (the
// database that wrote the backups) comes first: its CPU time, and its disk I/O at the lowest
// priority (Linux: the idle class, best-effort 7 where idle is refused; Windows: background
// mode, which lowers I/O and memory priority too). Threads it starts afterwards inherit it.
namespace ThreadPriority {
void lowerThisThread();
// The calling thread's I/O class as Linux's ioprio_get gives it (1 real time, 2 best
// effort, 3 idle), and its level; -1 where there is none to read.
int ioClassOfThisThread(int *level = nullptr);
}

#endif // THREADPRIORITY_H
