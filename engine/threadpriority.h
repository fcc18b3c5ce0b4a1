#ifndef THREADPRIORITY_H
#define THREADPRIORITY_H

// Below normal priority for the calling thread, so that a busy server's own work (the
// database that wrote the backups) comes first. Threads it starts afterwards inherit it.
namespace ThreadPriority {
void lowerThisThread();
}

#endif // THREADPRIORITY_H
