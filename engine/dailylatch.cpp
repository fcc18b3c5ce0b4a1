#include "dailylatch.h"

DailyLatch::DailyLatch(const QString &runTime)
    : m_runTime(runTime)
{
}

void DailyLatch::setRunTime(const QString &runTime)
{
    m_runTime = runTime;
}

bool DailyLatch::due(const QTime &now)
{
    // Compared as text: a run time with a leading zero (07:05) never matches.
    if (now.toString(QStringLiteral("h:mm")) != m_runTime) {
        m_ranThisMinute = false;
        return false;
    }
    if (m_ranThisMinute)
        return false;
    m_ranThisMinute = true;
    return true;
}
