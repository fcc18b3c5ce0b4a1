#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "commandline.h"
#include "compresstask.h"
#include "messages.h"
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
        const QString printed = QString::fromUtf8(program.readAllStandardOutput());
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
    // What another account with the right to write the output directory may leave there.
    const QStringList both{"out/a.rar ok", "out/b.rar ok"};
    QTest::newRow("another host's live lock") << "lock:1\nhalcyon\nother-host\n:0" << run << 3 << QStringList();
    QTest::newRow("another host's lock, 11 minutes old") << "lock:1\nhalcyon\nother-host\n:660" << run << 0 << both;
    QTest::newRow("an empty lock") << "lock::0" << run << 0 << both;
    QTest::newRow("a garbage lock") << "lock:-1 halcyon\n\n:0" << run << 0 << both;
#ifdef Q_OS_UNIX
    QTest::newRow("a FIFO as the lock") << "FIFO lock" << run << 0 << both;
    QTest::newRow("a link to /dev/zero as the lock") << "link lock:/dev/zero" << run << 0 << both;
    QTest::newRow("a dangling link as the lock") << "link lock:gone" << run << 0 << both;
    QTest::newRow("a directory as the lock") << "directory lock" << run << 0 << both;
    QTest::newRow("a full directory as the lock") << "full directory lock" << run << 3 << QStringList();
    QTest::newRow("links at the archives' names") << "links" << run << 0 << both;
    QTest::newRow("backups for their owner alone") << "private backups" << run << 0 << both;
#endif
    QTest::newRow("an unknown option") << "" << QStringList{"--run", "--no-such-option"} << 64 << QStringList();
    QTest::newRow("an unknown option, no --run") << "" << QStringList{"--rum"} << 64 << QStringList();
    QTest::newRow("--help") << "" << QStringList{"--help"} << 0 << CommandLine::usage().split('\n', Qt::SkipEmptyParts);
    QTest::newRow("-h") << "" << QStringList{"-h"} << 0 << CommandLine::usage().split('\n', Qt::SkipEmptyParts);
    QTest::newRow("--version") << "" << QStringList{"--version"} << 0 << QStringList{"Halcyon压缩 " HALCYON_VERSION};
    QTest::newRow("a path file too large") << "large path file" << run << 2 << QStringList();
    const QStringList verify{"--verify"};
    QTest::newRow("--verify, every archive whole") << "archived" << verify << 0 << both;
    QTest::newRow("--verify, a byte flipped") << "archived, a.rar flipped" << verify << 1
                                              << QStringList{"out/a.rar 损坏: ", "out/b.rar ok"};
    QTest::newRow("--verify, no such directory") << "" << QStringList{"--verify", "gone"} << 2 << QStringList();
    QTest::newRow("--extract, no such archive") << "" << QStringList{"--extract", "gone.rar"} << 1
                                                << QStringList{"gone.rar 解压失败: "};
    QTest::newRow("--verify with --run") << "" << QStringList{"--verify", "--run"} << 64 << QStringList();
#ifdef Q_OS_LINUX
    // Windows takes no control characters in a name.
    QTest::newRow("a name that would start a line") << "line feed" << run << 0
                                                    << QStringList{"out/a.rar ok", "out/b\\x0a100: 压缩任务结束.rar ok"};
    // As an unprivileged user: permissions do not stop root.
    QTest::newRow("an unreadable subdirectory") << "locked subdirectory" << run << 1
                                                << QStringList{"out/a.rar ok", "src/locked 压缩失败: ", "out/b.rar ok"};
    QTest::newRow("out of memory") << "little memory" << run << 1 << QStringList();
    QTest::newRow("a full disk") << "full disk" << run << 1
                                 << QStringList{"out/a.rar 压缩失败: " + qt_error_string(ENOSPC), "out/b.rar ok"};
    QTest::newRow("an archive that would cross the reserve") << "reserve" << run << 1
                                                             << QStringList{"out/a.rar 压缩失败: ", "out/b.rar ok"};
    QTest::newRow("threads=1 and threads=7") << "threads" << run << 0 << QStringList{"out/a.rar ok", "out/b.rar unchanged"};
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
    const bool smallDisk = setup == "full disk" || setup == "reserve";
    if (smallDisk && QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", out}) != 0)
        QSKIP("mounting a tmpfs is not permitted here");
    auto unmount = qScopeGuard([&] {
        if (smallDisk)
            QProcess::execute("umount", {out});
    });
    if (setup != "no backups") {
        writeFile(src + "/a.bak", patterned(100000));
        writeFile(src + (setup == "line feed" ? "/sub/b\n100: 压缩任务结束.BAK" : "/sub/b.BAK"), "b");
    }
    if (setup != "no source saved")
        writeFile(dir.filePath("filepath.ini"), (setup == "no source" ? dir.filePath("gone") : src).toUtf8());
    writeFile(dir.filePath("CompressFileFath.ini"), out.toUtf8());
    if (setup == "large path file")
        writeFile(dir.filePath("filepath.ini"), QByteArray(64 * 1024 + 1, 'a'));
    if (setup == "b.rar taken")
        QVERIFY(QDir().mkpath(out + "/b.rar"));
    const QString elsewhere = dir.filePath("elsewhere"), lock = CompressTask::lockPath(out);
    QVERIFY(QDir().mkpath(elsewhere + "/private"));
    writeFile(elsewhere + "/file", "someone's file");
    if (setup == "links") {
        QVERIFY(QFile::link(elsewhere + "/file", out + "/a.rar"));
        QVERIFY(QFile::link(elsewhere + "/new", out + "/b.rar"));
    }
    if (setup == "private backups") {
        writeFile(elsewhere + "/private/key", "a key");
        QVERIFY(QFile::setPermissions(elsewhere + "/private/key", QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(src + "/a.bak", QFile::ReadOwner));
        QVERIFY(QFile::remove(src + "/sub/b.BAK") && QFile::link(elsewhere + "/private/key", src + "/sub/b.BAK"));
    }
    const QString mark = out + "/halcyon-last-success.txt";
    if (smallDisk) {
        QByteArray random((setup == "reserve" ? 600 : 3 * 1024) << 10, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
        writeFile(src + "/a.bak", random);
        writeFile(dir.filePath("halcyon.ini"), setup == "reserve" ? "[output]\nreserve=50%\n" : "[output]\nreserve=0\n");
    }
    if (setup == "reserve") {
        writeFile(out + "/a.rar", "previous archive");
        writeFile(mark, "an older night");
    }
    if (setup.startsWith("lock:")) {
        writeFile(lock, setup.section(':', 1, 1).toUtf8());
        QFile file(lock);
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime::currentDateTime().addSecs(-setup.section(':', 2).toInt()),
                                    QFileDevice::FileModificationTime));
    }
#ifdef Q_OS_UNIX
    if (setup == "FIFO lock")
        QVERIFY(::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0);
    if (setup.startsWith("link lock:"))
        QVERIFY(QFile::link(setup.section(':', 1), lock));
#endif
    if (setup.endsWith("directory lock"))
        QVERIFY(QDir().mkpath(lock + (setup.startsWith("full") ? "/inside" : "")));
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
    QByteArray oneThread;
    if (setup == "threads") {
        writeFile(src + "/a.bak", patterned(9 << 20));
        writeFile(dir.filePath("halcyon.ini"), "[job]\nthreads=1\n");
        QProcess job;
        job.setWorkingDirectory(dir.path());
        job.start(halcyon(), {"-platform", "offscreen", "--run"});
        QVERIFY(job.waitForFinished(120000) && job.exitCode() == 0);
        oneThread = readFile(out + "/a.rar");
        QVERIFY(QFile::remove(out + "/a.rar"));
        // A key it does not know costs a warning, not the job.
        writeFile(dir.filePath("halcyon.ini"), "[job]\nthreads=7\ncolour=blue\n");
    }
    if (setup.startsWith("archived")) {
        QProcess job;
        job.setWorkingDirectory(dir.path());
        job.start(halcyon(), {"-platform", "offscreen", "--run"});
        QVERIFY(job.waitForFinished(120000) && job.exitCode() == 0);
        if (setup.endsWith("flipped")) {
            QByteArray bytes = readFile(out + "/a.rar");
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x10);
            writeFile(out + "/a.rar", bytes);
        }
    }

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
    // UTF-8 into a pipe, whatever the system's code page: a failed line's words show that.
    QString printed = QString::fromUtf8(program.readAllStandardOutput());
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    if (setup == "full directory lock")
        QVERIFY(errors.contains(qt_error_string(ENOTEMPTY)));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    if (setup == "large path file")
        QVERIFY2(errors.contains(Messages::pathFileTooLarge("filepath.ini")), qPrintable(errors));
    // A failed line ends in the system's reason, whose words differ between systems.
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
    const bool jobRan = (exitCode <= 1 && arguments.contains("--run")) || setup.startsWith("archived");
    if (setup == "threads")
        QCOMPARE(readFile(out + "/a.rar"), oneThread);
    if (setup == "reserve") {
        QVERIFY2(printed.contains("reserve=50%"), qPrintable(printed));
        QCOMPARE(readFile(out + "/a.rar"), QByteArray("previous archive"));
        QCOMPARE(readFile(mark), QByteArray("an older night"));
    }
    // Its age is the time since the last job in which nothing failed.
    QCOMPARE(QFileInfo::exists(mark), (jobRan && exitCode == 0) || setup.startsWith("archived") || setup == "reserve");
    if (jobRan && exitCode == 0)
        QVERIFY2(readFile(mark).contains("\nsource=" + src.toUtf8() + "\n"), readFile(mark).constData());
    QCOMPARE(QFileInfo::exists(out + "/a.rar.halcyon-Xy12Zw.tmp"), !jobRan);
    QVERIFY(QFileInfo::exists(out + "/a.rar.backup"));
    // Nothing outside the output directory was written, and no archive is more readable
    // than its backup.
    QCOMPARE(readFile(elsewhere + "/file"), QByteArray("someone's file"));
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files), QStringList{"file"});
    for (const QString &name : {QString("a.rar"), QString("b.rar")}) {
        const QString backup = src + (name == "a.rar" ? "/a.bak" : "/sub/b.BAK");
        if (exitCode < 2 && lines.contains("out/" + name + " ok"))
            QCOMPARE(QFileInfo(out + "/" + name).permissions(), QFileInfo(backup).permissions());
    }
}

QTEST_GUILESS_MAIN(HeadlessJobTest)
#include "headlessjobtest.moc"
