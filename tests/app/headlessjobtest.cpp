#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "compresstask.h"
#include "testfiles.h"

// halcyon --run end to end: the real program, with no display, in a working directory of
// the test's own.
class HeadlessJobTest : public QObject
{
    Q_OBJECT

private slots:
    void exitCodes_data();
    void exitCodes();
};

void HeadlessJobTest::exitCodes_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");

    const QStringList run{"--run"};
    QTest::newRow("every backup archived") << "" << run << 0 << QStringList{"out/a.rar ok", "out/b.rar ok"};
    QTest::newRow("with Qt's own options") << "" << QStringList{"-platform", "offscreen", "--run", "-style", "fusion"} << 0
                                           << QStringList{"out/a.rar ok", "out/b.rar ok"};
    QTest::newRow("an archive failed") << "b.rar taken" << run << 1 << QStringList{"out/a.rar ok", "out/b.rar 压缩失败"};
    QTest::newRow("no source saved") << "no source saved" << run << 2 << QStringList();
    QTest::newRow("source directory missing") << "no source" << run << 2 << QStringList();
    QTest::newRow("no .bak file") << "no backups" << run << 2 << QStringList();
    QTest::newRow("another job writes there") << "locked" << run << 3 << QStringList();
    QTest::newRow("a killed job's lock") << "stale lock" << run << 0 << QStringList{"out/a.rar ok", "out/b.rar ok"};
    QTest::newRow("an unknown option") << "" << QStringList{"--run", "--no-such-option"} << 64 << QStringList();
}

void HeadlessJobTest::exitCodes()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString src = dir.filePath("src"), out = dir.filePath("out");
    QVERIFY(QDir().mkpath(src + "/sub") && QDir().mkpath(out));
    if (setup != "no backups") {
        writeFile(src + "/a.bak", patterned(100000));
        writeFile(src + "/sub/b.BAK", "b");
    }
    if (setup != "no source saved")
        writeFile(dir.filePath("filepath.ini"), (setup == "no source" ? dir.filePath("gone") : src).toUtf8());
    writeFile(dir.filePath("CompressFileFath.ini"), out.toUtf8());
    if (setup == "b.rar taken")
        QVERIFY(QDir().mkpath(out + "/b.rar"));
    QLockFile held(CompressTask::lockPath(out));
    if (setup == "locked")
        QVERIFY(held.tryLock(0));
    if (setup == "stale lock")
        writeFile(CompressTask::lockPath(out), "999999999\nhalcyon\n" + QSysInfo::machineHostName().toUtf8() + "\n");

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
#ifndef Q_OS_WIN
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
#endif
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(dir.path());
    QString exe = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../../app/halcyon");
#ifdef Q_OS_WIN
    exe += ".exe";
#endif
    program.start(exe, arguments);
    QVERIFY2(program.waitForFinished(120000), qPrintable(program.errorString()));
    QString printed = QString::fromLocal8Bit(program.readAllStandardOutput());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    QCOMPARE(printed.replace(dir.path() + "/", QString()).split('\n', Qt::SkipEmptyParts), lines);
    if (exitCode != 3)
        QVERIFY2(!QFileInfo::exists(CompressTask::lockPath(out)), "a job leaves no lock behind");
    if (exitCode >= 2)
        QVERIFY(!QFileInfo::exists(out + "/a.rar"));
}

QTEST_GUILESS_MAIN(HeadlessJobTest)
#include "headlessjobtest.moc"
