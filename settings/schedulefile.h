#ifndef SCHEDULEFILE_H
#define SCHEDULEFILE_H

#include <QDateTime>
#include <QString>
#include <QTime>

// The daily mode kept between runs in schedule.ini of the working directory: whether it is
// on, its time, and the last slot it ran (or that had passed when it was switched on), so
// that a restart resumes it and catches up a slot it missed.
struct ScheduleState
{
    bool on = false;
    QTime time;
    QDateTime lastSlot;
};

namespace ScheduleFile {
// Anything but a well-formed file (none, damaged, unreadable) reads as off.
ScheduleState read(const QString &fileName);
// Replaces the file whole; false when it could not be written.
bool write(const QString &fileName, const ScheduleState &state);
// The mode and its time, keeping the last slot the file holds.
bool writeMode(const QString &fileName, bool on, const QTime &time);
// The last slot, keeping the mode and its time.
bool writeLastSlot(const QString &fileName, const QDateTime &lastSlot);
}

#endif // SCHEDULEFILE_H
