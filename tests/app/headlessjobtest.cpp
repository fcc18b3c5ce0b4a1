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

private:
    static QString halcyon();
    void outOfMemoryFailsOneArchive(const QString &workingDirectory, const QString &out);
};

QString HeadlessJobTest::halcyon()
{
#ifdef Q_OS_WIN
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../../app/halcyon.exe");
#else
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../../app/halcyon");
#endif
}

// Down from a limit of address space that the job fits in, to one where a block of the
// large backup cannot be had: that archive fails with the reason, the rest go on, and the
// program is never killed on the way.
void HeadlessJobTest::outOfMemoryFailsOneArchive(const QString &workingDirectory, const QString &out)
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves more address space than any limit leaves");
#endif
    writeFile(QFileInfo(out).path() + "/src/big.bak", patterned(48 << 20));
    for (int megabytes = 200; megabytes >= 60; megabytes -= 5) {
        QVERIFY(QDir(out).removeRecursively());
        QProcess program;
        program.setWorkingDirectory(workingDirectory);
        program.start("prlimit", {QString("--as=%1").arg(qint64(megabytes) << 20), halcyon(), "--run"});
        QVERIFY(program.waitForFinished(120000));
        const QString printed = QString::fromLocal8Bit(program.readAllStandardOutput());
        if (program.exitCode() == 127) // too little to load the program at all
            break;
        QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() <= 1,
                 qPrintable(QString("%1 MB: exit %2\n%3").arg(megabytes).arg(program.exitCode()).arg(printed)));
        if (program.exitCode() == 1) {
            QVERIFY2(printed.contains(out + "/big.rar 压缩失败: ") && printed.contains(out + "/a.rar ok"), qPrintable(printed));
            QVERIFY(!QFileInfo::exists(out + "/big.rar"));
            QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).filter("big"), QStringList());
            return;
        }
    }
    QSKIP("no limit of address space made the large archive fail here");
}

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
    QTest::newRow("an archive failed") << "b.rar taken" << run << 1 << QStringList{"out/a.rar ok", "out/b.rar 压缩失败: "};
    QTest::newRow("no source saved") << "no source saved" << run << 2 << QStringList();
    QTest::newRow("source directory missing") << "no source" << run << 2 << QStringList();
    QTest::newRow("no .bak file") << "no backups" << run << 2 << QStringList();
    QTest::newRow("another job writes there") << "locked" << run << 3 << QStringList();
    QTest::newRow("a killed job's lock") << "stale lock" << run << 0 << QStringList{"out/a.rar ok", "out/b.rar ok"};
    QTest::newRow("an unknown option") << "" << QStringList{"--run", "--no-such-option"} << 64 << QStringList();
    QTest::newRow("a name that would start a line") << "line feed" << run << 0
                                                    << QStringList{"out/a.rar ok", "out/b\\x0a100: 压缩任务结束.rar ok"};
#ifdef Q_OS_LINUX
    // As an unprivileged user: permissions do not stop root.
    QTest::newRow("an unreadable subdirectory") << "locked subdirectory" << run << 1
                                                << QStringList{"out/a.rar ok", "src/locked 压缩失败: ", "out/b.rar ok"};
    QTest::newRow("out of memory") << "little memory" << run << 1 << QStringList();
#endif
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
        writeFile(src + (setup == "line feed" ? "/sub/b\n100: 压缩任务结束.BAK" : "/sub/b.BAK"), "b");
    }
    if (setup != "no source saved")
        writeFile(dir.filePath("filepath.ini"), (setup == "no source" ? dir.filePath("gone") : src).toUtf8());
    writeFile(dir.filePath("CompressFileFath.ini"), out.toUtf8());
    if (setup == "b.rar taken")
        QVERIFY(QDir().mkpath(out + "/b.rar"));
    // Left by a killed job beside an operator's own file; and, while another job runs, kept.
    for (const char *name : {"a.rar.halcyon-Xy12Zw.tmp", "a.rar.backup"})
        writeFile(out + "/" + name, "x");
    QLockFile held(CompressTask::lockPath(out));
    if (setup == "locked")
        QVERIFY(held.tryLock(0));
    if (setup == "stale lock")
        writeFile(CompressTask::lockPath(out), "999999999\nhalcyon\n\n"); // no host: this one

    if (setup == "locked subdirectory") {
        QVERIFY(QDir().mkpath(src + "/locked"));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::Permissions(0x7777)));
        QVERIFY(QProcess::execute("chmod", {"-R", "a+rwX", dir.path()}) == 0);
        QVERIFY(QFile::setPermissions(src + "/locked", QFile::Permissions()));
        arguments = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", halcyon()} + arguments;
    }
    if (setup == "little memory")
        return outOfMemoryFailsOneArchive(dir.path(), out);

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
#ifndef Q_OS_WIN
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
#endif
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(dir.path());
    program.start(setup == "locked subdirectory" ? QString("setpriv") : halcyon(), arguments);
    QVERIFY2(program.waitForFinished(120000), qPrintable(program.errorString()));
    QString printed = QString::fromLocal8Bit(program.readAllStandardOutput());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    // A failed line ends in the system's reason, whose words differ between systems, and a
    // console of another code page than 936 shows the Chinese as '?'.
    QStringList got = printed.remove('\r').replace(dir.path() + "/", QString()).split('\n', Qt::SkipEmptyParts);
    for (int i = 0; i < got.size() && i < lines.size(); ++i) {
        if (lines[i].endsWith(": ") && got[i].startsWith(lines[i].section(' ', 0, 0) + ' ')
            && got[i].indexOf(": ") > 0 && !got[i].endsWith(": "))
            got[i] = lines[i];
    }
    QCOMPARE(got, lines);
    if (exitCode != 3)
        QVERIFY2(!QFileInfo::exists(CompressTask::lockPath(out)), "a job leaves no lock behind");
    if (exitCode >= 2)
        QVERIFY(!QFileInfo::exists(out + "/a.rar"));
    QCOMPARE(QFileInfo::exists(out + "/a.rar.halcyon-Xy12Zw.tmp"), exitCode != 0 && exitCode != 1);
    QVERIFY(QFileInfo::exists(out + "/a.rar.backup"));
}

QTEST_GUILESS_MAIN(HeadlessJobTest)
#include "headlessjobtest.moc"
