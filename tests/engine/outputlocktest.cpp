#include "outputlock.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

// Locks judged on a clock the test sets: whose they are and how long since their refresh.
class OutputLockTest : public QObject
{
    Q_OBJECT

private slots:
    void judged_data();
    void judged();
    void refreshedAndReleased();
};

void OutputLockTest::judged_data()
{
    QTest::addColumn<QString>("lines"); // empty: a job of this process holds the lock
    QTest::addColumn<int>("minutesLater");
    QTest::addColumn<bool>("takenOver");

    const QString otherHost = "4242\nhalcyon\nother-host\n";
    QTest::newRow("another host's, refreshed 9 minutes ago") << otherHost << 9 << false;
    QTest::newRow("another host's, refreshed 11 minutes ago") << otherHost << 11 << true;
    QTest::newRow("another host's, refreshed 11 minutes ahead") << otherHost << -11 << true;
#ifdef Q_OS_LINUX
    // A pid that runs another program: reused since, or written there to stop the job.
    const QString init = "1\nhalcyon\n" + QSysInfo::machineHostName() + "\n";
    QTest::newRow("pid 1 of this host, refreshed 9 minutes ago") << init << 9 << false;
    QTest::newRow("pid 1 of this host, refreshed 11 minutes ago") << init << 11 << true;
#endif
    QTest::newRow("this program's, refreshed 11 minutes ago") << "" << 11 << false;
}

void OutputLockTest::judged()
{
    QFETCH(QString, lines);
    QFETCH(int, minutesLater);
    QFETCH(bool, takenOver);
    QTemporaryDir dir;
    const QString path = OutputLock::path(dir.path());
    const QDateTime written = QDateTime::currentDateTimeUtc();
    OutputLock held(dir.path());
    if (lines.isEmpty())
        QCOMPARE(held.tryLock(), OutputLock::Outcome::Held);
    else
        writeFile(path, lines.toUtf8());
    const QByteArray before = readFile(path);

    OutputLock lock(dir.path(), [&] { return written.addSecs(minutesLater * 60); });
    QCOMPARE(lock.tryLock(), takenOver ? OutputLock::Outcome::Held : OutputLock::Outcome::Busy);
    // Both say whose the lock is.
    const QString pid = lines.isEmpty() ? QString::number(QCoreApplication::applicationPid()) : lines.section('\n', 0, 0);
    QVERIFY2((takenOver ? lock.takenOver() : lock.reason()).contains("上的进程 " + pid + "（"),
             qPrintable(lock.takenOver() + lock.reason()));
    if (!takenOver)
        QCOMPARE(readFile(path), before);
}

void OutputLockTest::refreshedAndReleased()
{
#ifdef Q_OS_WIN
    QSKIP("the lock is held without sharing its times on Windows");
#endif
    QTemporaryDir dir;
    const QString path = OutputLock::path(dir.path());
    QDateTime now = QDateTime::currentDateTimeUtc();
    OutputLock lock(dir.path(), [&] { return now; });
    QCOMPARE(lock.tryLock(), OutputLock::Outcome::Held);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.setFileTime(now.addSecs(-3600), QFileDevice::FileModificationTime));

    now = now.addSecs(OutputLock::kRefreshSecs - 1);
    lock.refresh();
    QVERIFY(QFileInfo(path).lastModified().secsTo(QDateTime::currentDateTime()) > 3000);
    now = now.addSecs(2);
    lock.refresh();
    QVERIFY(QFileInfo(path).lastModified().secsTo(QDateTime::currentDateTime()) < 60);

    // What came to stand at the name since is not the job's to remove.
    QVERIFY(QFile::remove(path));
    writeFile(path, "another job's");
    lock.unlock();
    QCOMPARE(readFile(path), QByteArray("another job's"));
}

QTEST_GUILESS_MAIN(OutputLockTest)
#include "outputlocktest.moc"
