#include "testfiles.h"
#include "wholefile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

class WholeFileTest : public QObject
{
    Q_OBJECT

private slots:
    void commit_data();
    void commit();
};

void WholeFileTest::commit_data()
{
    QTest::addColumn<QString>("older");
    QTest::addColumn<int>("cancelAfterMs"); // -1: never
    QTest::addColumn<bool>("replaced");

    QTest::newRow("no older file") << "" << -1 << true;
    QTest::newRow("older file") << "file" << -1 << true;
    QTest::newRow("a directory in the way") << "directory" << -1 << false;
#ifdef Q_OS_UNIX
    // Another account's link under an archive's name, and the operator's own link.
    QTest::newRow("a link to a file elsewhere") << "link" << -1 << true;
    QTest::newRow("a dangling link") << "dangling link" << -1 << true;
    QTest::newRow("a link, followed") << "followed link" << -1 << true;
#endif
#ifdef Q_OS_WIN
    // What a virus scanner or a backup agent does to the older archive.
    QTest::newRow("older file held for a second") << "held" << -1 << true;
    QTest::newRow("held, job cancelled") << "held" << 300 << false;
    QTest::newRow("read-only older file") << "read-only" << -1 << false;
#endif
}

void WholeFileTest::commit()
{
    QFETCH(QString, older);
    QFETCH(int, cancelAfterMs);
    QFETCH(bool, replaced);
    QTemporaryDir dir, elsewhere;
    const QString path = dir.filePath("a.rar"), target = elsewhere.filePath("target");
    if (older.endsWith("link"))
        QVERIFY(QFile::link(target, path));
    if (older == "link" || older == "followed link")
        writeFile(target, "target");
    if (older == "directory")
        QVERIFY(QDir().mkpath(path));
    else if (!older.isEmpty() && !older.endsWith("link"))
        writeFile(path, "older");
    if (older == "read-only")
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));

    QSemaphore held;
    std::thread holder([&] {
        QFile file(path);
        if (older == "held" && file.open(QIODevice::ReadOnly)) {
            held.release();
            QThread::msleep(1000);
        }
    });
    if (older == "held")
        held.acquire();
    QElapsedTimer timer;
    timer.start();
    WholeFile file(path, older == "followed link" ? WholeFile::Links::Followed : WholeFile::Links::Replaced);
    const bool committed = file.open() && file.device().write("newer") == 5
        && file.commit([&] { return cancelAfterMs >= 0 && timer.elapsed() > cancelAfterMs; });
    const qint64 took = timer.elapsed();
    holder.join();

    QCOMPARE(committed, replaced);
    QVERIFY2(cancelAfterMs < 0 || took < cancelAfterMs + 1000, "a cancelled wait goes on");
    // Nothing temporary is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"a.rar"});
    if (older != "directory")
        QCOMPARE(readFile(path), QByteArray(replaced ? "newer" : "older"));
    if (older.endsWith("link")) {
        QCOMPARE(QFileInfo(path).isSymLink(), older == "followed link");
        QCOMPARE(QFileInfo::exists(target), older != "dangling link");
    }
    if (older == "link")
        QCOMPARE(readFile(target), QByteArray("target"));
}

QTEST_GUILESS_MAIN(WholeFileTest)
#include "wholefiletest.moc"
