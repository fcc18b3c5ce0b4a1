#ifndef DAILYLATCH_H
#define DAILYLATCH_H

#include <QString>
#include <QTime>

// When the daily job is due: once while the clock shows the run time as "h:mm" (8:00,
// 17:05), then not again until the clock has shown another minute. A job that outlasts
// its minute is therefore not repeated; the next run is the next day.
class DailyLatch
{
public:
    explicit DailyLatch(const QString &runTime = QString());
    void setRunTime(const QString &runTime);
    // Lets the job run again in the current minute, as a fresh start does.
    void clear() { m_ranThisMinute = false; }
    // True at most once per matching minute; counts that run.
    bool due(const QTime &now);

private:
    QString m_runTime;
    bool m_ranThisMinute = false;
};

#endif // DAILYLATCH_H
