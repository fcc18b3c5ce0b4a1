#include "schedulefile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class ScheduleFileTest : public QObject
{
    Q_OBJECT

private slots:
    // The window saves the mode, the worker's owner the slot: neither loses the other's.
    void modeAndSlotKeepEachOther()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("schedule.ini");
        const QDateTime slot(QDate(2026, 3, 29), QTime(2, 30));
        QVERIFY(ScheduleFile::writeMode(file, true, QTime(2, 30)));
        QVERIFY(ScheduleFile::writeLastSlot(file, slot));
        QVERIFY(ScheduleFile::writeMode(file, false, QTime(7, 5)));
        const ScheduleState state = ScheduleFile::read(file);
        QVERIFY(!state.on);
        QCOMPARE(state.time, QTime(7, 5));
        QCOMPARE(state.lastSlot, slot);
    }
};

QTEST_GUILESS_MAIN(ScheduleFileTest)
#include "schedulefiletest.moc"
