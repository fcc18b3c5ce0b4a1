#ifndef DAILYSCHEDULE_H
#define DAILYSCHEDULE_H

#include <QDateTime>
#include <QTime>

// When the daily job is due. A slot is a date at the run time, in local time; the schedule
// remembers the last slot it has run and runs once when the clock is at or past the next one.
// So a clock that jumps over the minute (sleep, an NTP step, DST spring-forward) still runs
// the day once, and a clock set back (fall-back, a correction) never runs it twice.
class DailySchedule
{
public:
    // Switched on now: a slot still within its minute is due at once; an earlier one of
    // today counts as passed, as the operator saw it go by.
    void start(const QTime &runTime, const QDateTime &now);
    // Switched on again after a restart: the slot run last before it. One that passed
    // since is caught up once, not before notBefore, standing for every missed day.
    void resume(const QTime &runTime, const QDateTime &lastSlot, const QDateTime &now,
                const QDateTime &notBefore);

    // The slot due at now, taken (the next one is the day after it), or an invalid one.
    QDateTime take(const QDateTime &now);
    // The slot run last, or that had passed when the schedule started.
    QDateTime lastSlot() const { return m_lastSlot; }

    // The first moment whose local time is at or after time on date: the minute itself,
    // or the end of a DST gap that swallowed it.
    static QDateTime slotOn(const QDate &date, const QTime &time);

private:
    QDateTime latestSlotAtOrBefore(const QDateTime &now) const;
    QDateTime firstSlotAfter(const QDateTime &moment) const;

    QTime m_runTime;
    QDateTime m_lastSlot;
    QDateTime m_next;
};

#endif // DAILYSCHEDULE_H
