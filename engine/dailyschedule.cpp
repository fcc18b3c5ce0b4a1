#include "dailyschedule.h"

namespace {

constexpr int kMinuteSecs = 60;
constexpr int kDayMinutes = 24 * 60;

} // namespace

QDateTime DailySchedule::slotOn(const QDate &date, const QTime &time)
{
    if (!time.isValid())
        return QDateTime();
    const int minute = time.hour() * 60 + time.minute();
    // Inside a DST gap the wall clock skips ahead: walk it on to the gap's end.
    for (int shift = 0; shift <= kDayMinutes; ++shift) {
        const int at = minute + shift;
        const QDateTime candidate(date.addDays(at / kDayMinutes),
                                  QTime(0, 0).addSecs((at % kDayMinutes) * kMinuteSecs), Qt::LocalTime);
        if (candidate.isValid())
            return candidate;
    }
    return QDateTime();
}

void DailySchedule::start(const QTime &runTime, const QDateTime &now)
{
    m_runTime = runTime;
    const QDateTime today = slotOn(now.date(), runTime);
    if (now >= today && now < today.addSecs(kMinuteSecs)) {
        m_lastSlot = slotOn(now.date().addDays(-1), runTime);
        m_next = today;
        return;
    }
    m_lastSlot = latestSlotAtOrBefore(now);
    m_next = firstSlotAfter(now);
}

void DailySchedule::resume(const QTime &runTime, const QDateTime &lastSlot, const QDateTime &now,
                           const QDateTime &notBefore)
{
    if (!lastSlot.isValid() || lastSlot > now) {
        start(runTime, now);
        return;
    }
    m_runTime = runTime;
    m_lastSlot = lastSlot;
    m_next = latestSlotAtOrBefore(now) > lastSlot ? notBefore : firstSlotAfter(lastSlot);
}

QDateTime DailySchedule::take(const QDateTime &now)
{
    const QDateTime upcoming = firstSlotAfter(now);
    // A clock set back by more than a day (a wrong clock put right) would otherwise
    // hold the schedule until it reached the far slot again.
    if (m_next > slotOn(upcoming.date().addDays(1), m_runTime))
        m_next = upcoming;
    if (!m_next.isValid() || now < m_next)
        return QDateTime();
    // Stands for every slot missed up to now: they run once, not once each.
    m_lastSlot = latestSlotAtOrBefore(now);
    m_next = upcoming;
    return m_lastSlot;
}

QDateTime DailySchedule::latestSlotAtOrBefore(const QDateTime &now) const
{
    const QDateTime today = slotOn(now.date(), m_runTime);
    return today <= now ? today : slotOn(now.date().addDays(-1), m_runTime);
}

QDateTime DailySchedule::firstSlotAfter(const QDateTime &moment) const
{
    const QDateTime sameDay = slotOn(moment.date(), m_runTime);
    return sameDay > moment ? sameDay : slotOn(moment.date().addDays(1), m_runTime);
}
