#include "dailyschedule.h"

#include <QtTest>

#include <ctime>

class DailyScheduleTest : public QObject
{
    Q_OBJECT

private slots:
    void followsTheClock_data();
    void followsTheClock();
};

void DailyScheduleTest::followsTheClock_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("runTime");
    QTest::addColumn<QString>("last"); // the saved slot it resumes from (UTC), or switched on by hand
    QTest::addColumn<QStringList>("clock"); // UTC readings, one per poll; the first switches on
    QTest::addColumn<QStringList>("taken"); // the slots run, UTC
    const QByteArray utc = "UTC";
    const QString byHand;
    const QString day = "2026-12-09T", nextDay = "2026-12-10T";
    QTest::newRow("the clock passes the minute")
        << utc << "8:00" << byHand << QStringList{day + "07:59:50Z", day + "08:00:10Z", day + "08:00:40Z", day + "08:01:10Z"}
        << QStringList{day + "08:00:00Z"};
    QTest::newRow("once in its minute, again the next day")
        << utc << "7:05" << byHand
        << QStringList{day + "07:04:30Z", day + "07:04:30Z", day + "07:05:30Z", day + "07:05:30Z", day + "07:06:30Z", nextDay + "07:05:30Z"}
        << QStringList{day + "07:05:00Z", nextDay + "07:05:00Z"};
    QTest::newRow("switched on within the minute")
        << utc << "8:00" << byHand << QStringList{day + "08:00:30Z", day + "08:00:50Z"} << QStringList{day + "08:00:00Z"};
    QTest::newRow("switched on after it: tomorrow")
        << utc << "8:00" << byHand << QStringList{day + "09:00:00Z", day + "09:00:01Z", nextDay + "07:59:59Z", nextDay + "08:00:01Z"}
        << QStringList{nextDay + "08:00:00Z"};
    QTest::newRow("the clock jumps over the minute")
        << utc << "8:00" << byHand << QStringList{day + "07:59:50Z", day + "08:01:10Z"} << QStringList{day + "08:00:00Z"};
    QTest::newRow("set back across the minute after the run")
        << utc << "8:00" << byHand << QStringList{day + "08:00:10Z", day + "08:01:00Z", day + "07:59:00Z", day + "08:00:10Z"}
        << QStringList{day + "08:00:00Z"};
    QTest::newRow("a job that outlasts its minute")
        << utc << "8:00" << byHand << QStringList{day + "07:59:50Z", day + "08:00:10Z", day + "08:03:00Z"} << QStringList{day + "08:00:00Z"};
    QTest::newRow("several days missed")
        << utc << "8:00" << byHand << QStringList{day + "07:59:50Z", "2026-12-12T09:00:00Z", "2026-12-12T09:00:10Z"}
        << QStringList{"2026-12-12T08:00:00Z"};
    QTest::newRow("a wrong clock put right, a month back")
        << utc << "8:00" << byHand << QStringList{day + "08:00:10Z", day + "08:00:20Z", "2027-01-08T08:00:10Z", nextDay + "09:00:00Z", "2026-12-11T08:00:10Z"}
        << QStringList{day + "08:00:00Z", "2027-01-08T08:00:00Z", "2026-12-11T08:00:00Z"};
    // 1:30 shows twice, EDT then EST.
    QTest::newRow("New York fall-back")
        << QByteArray("America/New_York") << "1:30" << byHand
        << QStringList{"2024-11-03T05:29:50Z", "2024-11-03T05:30:10Z", "2024-11-03T06:29:50Z", "2024-11-03T06:30:10Z"}
        << QStringList{"2024-11-03T05:30:00Z"};
    // 2:30 never shows: 1:59:59 EST is followed by 3:00 EDT.
    QTest::newRow("New York spring-forward")
        << QByteArray("America/New_York") << "2:30" << byHand << QStringList{"2024-03-10T06:59:50Z", "2024-03-10T07:00:10Z", "2024-03-10T07:30:00Z"}
        << QStringList{"2024-03-10T07:00:00Z"};
    QTest::newRow("Berlin fall-back")
        << QByteArray("Europe/Berlin") << "2:15" << byHand
        << QStringList{"2024-10-27T00:14:50Z", "2024-10-27T00:15:10Z", "2024-10-27T01:15:10Z", "2024-10-27T01:16:00Z"}
        << QStringList{"2024-10-27T00:15:00Z"};
    QTest::newRow("resumed, nothing missed")
        << utc << "8:00" << day + "08:00:00Z" << QStringList{day + "09:00:00Z", day + "09:01:10Z", nextDay + "08:00:10Z"}
        << QStringList{nextDay + "08:00:00Z"};
    QTest::newRow("resumed, days missed: not within a minute of the start")
        << utc << "8:00" << "2026-12-06T08:00:00Z" << QStringList{day + "09:00:00Z", day + "09:00:59Z"} << QStringList();
    QTest::newRow("resumed, days missed: once, a minute after the start")
        << utc << "8:00" << "2026-12-06T08:00:00Z"
        << QStringList{day + "09:00:00Z", day + "09:00:59Z", day + "09:01:00Z", day + "09:01:30Z", nextDay + "08:00:10Z"}
        << QStringList{day + "08:00:00Z", nextDay + "08:00:00Z"};
    QTest::newRow("resumed from a slot the clock has not reached")
        << utc << "8:00" << "2027-01-08T08:00:00Z" << QStringList{day + "07:59:50Z", day + "08:00:10Z"} << QStringList{day + "08:00:00Z"};
}

void DailyScheduleTest::followsTheClock()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, runTime);
    QFETCH(QString, last);
    QFETCH(QStringList, clock);
    QFETCH(QStringList, taken);
#ifdef Q_OS_WIN
    if (zone != "UTC")
        QSKIP("Windows takes its time zone from the system, not from TZ");
#endif
    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    auto local = [](const QString &utc) { return QDateTime::fromString(utc, Qt::ISODate).toLocalTime(); };
    const QTime time = QTime::fromString(runTime, "h:mm");
    const QDateTime on = local(clock.first());
    DailySchedule schedule;
    if (last.isEmpty())
        schedule.start(time, on);
    else
        schedule.resume(time, local(last), on, on.addSecs(60)); // the worker's catch-up minute
    QStringList polls = clock.mid(1);
    polls << clock.last(); // the worker reads the last one again
    QStringList run;
    for (const QString &reading : qAsConst(polls)) {
        const QDateTime slot = schedule.take(local(reading));
        if (slot.isValid())
            run << slot.toUTC().toString(Qt::ISODate);
    }
    qputenv("TZ", oldZone);
    tzset();
    QCOMPARE(run, taken);
}

QTEST_GUILESS_MAIN(DailyScheduleTest)
#include "dailyscheduletest.moc"
