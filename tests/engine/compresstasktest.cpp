#include "archivecheck.h"
#include "archivereader.h"
#include "compresstask.h"
#include "filenamecodec.h"
#include "lastsuccessfile.h"
#include "testfiles.h"
#include "threadpriority.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

#include <zlib.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace {

// The signals in emission order, taken on the worker as the window takes its progress.
// A run of equal progress reports is kept as one: a 4 GiB file sends a million.
class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(CompressTask *task)
    {
        auto record = [this](const QString &event) {
            QMutexLocker locker(&m_mutex);
            if (m_events.isEmpty() || m_events.last() != event || !event.startsWith("progress "))
                m_events << event;
        };
        connect(task, &CompressTask::sendMessage, this,
                [record](const QString &path) { record("message " + QFileInfo(path).fileName()); },
                Qt::DirectConnection);
        connect(task, &CompressTask::sendProgress, this, [this, record](int value, double mib) {
            record("progress " + QString::number(value));
            lastMiB = mib;
        }, Qt::DirectConnection);
        connect(task, &CompressTask::sendNoDirMessage, this,
                [record](const QString &path) { record("nodir " + path); }, Qt::DirectConnection);
        connect(task, &CompressTask::sendNotFoundMessage, this, [record] { record("notfound"); },
                Qt::DirectConnection);
        connect(task, &CompressTask::sendTaskFinished, this, [record] { record("finished"); },
                Qt::DirectConnection);
        connect(task, &CompressTask::sendOutcome, this,
                [record](const ArchiveOutcome &outcome) { record(describe(outcome)); }, Qt::DirectConnection);
    }
    // An unchanged archive with its size in bytes.
    static QString describe(const ArchiveOutcome &outcome)
    {
        const QString name = QFileInfo(outcome.archivePath).fileName();
        if (outcome.failed())
            return "failed " + name;
        if (outcome.kind == ArchiveOutcome::Kind::Unchanged)
            return QString("unchanged %1 %2").arg(name).arg(outcome.bytesWritten);
        return "written " + name;
    }
    QStringList events() const
    {
        QMutexLocker locker(&m_mutex);
        return m_events;
    }
    QStringList messages() const { return events().filter(QRegularExpression("^message ")); }
    QStringList withoutProgress() const { return events().filter(QRegularExpression("^(?!progress )")); }

    std::atomic<double> lastMiB{0};

private:
    mutable QMutex m_mutex;
    QStringList m_events;
};

// The local time the unattended loop reads, set by the test.
class FakeClock
{
public:
    void set(int hour, int minute) { m_minutes = m_minutes / kDay * kDay + hour * 60 + minute; }
    void nextDay() { m_minutes += kDay; }
    // Taken at the start and once a poll.
    int reads() const { return m_reads; }
    CompressTask::Clock clock()
    {
        return [this] {
            ++m_reads;
            return QDateTime(QDate(2026, 12, 9).addDays(m_minutes / kDay),
                             QTime(m_minutes % kDay / 60, m_minutes % 60, 30));
        };
    }

private:
    static constexpr int kDay = 24 * 60;
    std::atomic<int> m_minutes{0};
    std::atomic<int> m_reads{0};
};

// A task on a clock the test sets, with its signals recorded.
struct Schedule
{
    Schedule(int hour, int minute)
    {
        clock.set(hour, minute);
        task.setClock(clock.clock());
    }
    FakeClock clock;
    CompressTask task;
    Recorder recorder{&task};
};

// A name of these bytes, as the program reads names on Linux.
QString named(const char *bytes)
{
    FileNameCodec::install();
    return QFile::decodeName(bytes);
}

QStringList filesIn(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    names.sort();
    return names;
}

// What a job in which nothing failed leaves beside its archives.
QStringList withSuccessMark(QStringList names)
{
    names << LastSuccessFile::kFileName;
    names.sort();
    return names;
}

} // namespace

class CompressTaskTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void idleBeforeFirstStart();
    void walk_data();
    void walk();
    void laterFileOfSameNameWins();
    void outputDirectoryCreatedWithParents();
    void signalOrder_data();
    void signalOrder();
    void chineseNameReadsBackAsUtf8();
    void unchangedBackupIsLeftAlone();

    void missingDirectory();
    void nothingFound();
    void oneFailureCostsOneArchive_data();
    void oneFailureCostsOneArchive();
    void symlinkCycleIsWalkedOnce();
    void specialFilesAreSkipped();
    void abortMidFileKeepsOlderArchive();

    void scheduledJobRunsAtItsSlot();
    void stopWhileWaitingEmitsNothing();
    void restartInSameMinuteRunsAgain();
    void firstScheduledRunFindingNothingEnds();
    void laterEmptyDaysEmitNothing();

    void largeSourceUsesZip64_data();
    void largeSourceUsesZip64();

private:
    void runNow(CompressTask &task, Recorder &recorder, const QString &outputDir);
    QString src() const { return m_dir->filePath("src"); }
    QString out() const { return m_dir->filePath("out"); }

    QScopedPointer<QTemporaryDir> m_dir;
};

void CompressTaskTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(src()));
}

void CompressTaskTest::runNow(CompressTask &task, Recorder &recorder, const QString &outputDir)
{
    task.startTask(src(), ".bak", false, QString(), outputDir);
    // Only a guard against a hang: 4 GiB take a while on a loaded machine.
    QTRY_VERIFY_WITH_TIMEOUT(recorder.events().contains("finished"), 400000);
    QVERIFY(task.wait(10000));
    QVERIFY(task.isIdle());
}

void CompressTaskTest::idleBeforeFirstStart()
{
    CompressTask task;
    QVERIFY(task.isIdle());
    QVERIFY(!task.isRunning());
}

void CompressTaskTest::walk_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QStringList>("archives");

    QTest::newRow("suffix ignores case")
        << QStringList{"Nightly.BAK", "weekly.Bak", "monthly.bak"}
        << QStringList{"Nightly.rar", "monthly.rar", "weekly.rar"};
    QTest::newRow("directory named like a backup is walked into")
        << QStringList{"old.bak/inner.bak"} << QStringList{"inner.rar"};
    QTest::newRow("hidden files and directories are passed over")
        << QStringList{".hidden.bak", ".secret/x.bak", "visible.bak"} << QStringList{"visible.rar"};
    QTest::newRow("subdirectories are flattened")
        << QStringList{"a/b/c/deep.bak", "top.bak"} << QStringList{"deep.rar", "top.rar"};
    QTest::newRow("other names are passed over")
        << QStringList{"notes.txt", "x.bak.txt", "y.rar", "keep.bak"} << QStringList{"keep.rar"};
    QTest::newRow("only the suffix is cut from the stem")
        << QStringList{"db.2024.bak.bak"} << QStringList{"db.2024.bak.rar"};
#ifdef Q_OS_LINUX
    // GBK bytes, as a share written from a Chinese Windows holds them.
    QTest::newRow("names that are not UTF-8")
        << QStringList{named("\xb1\xb8\xb7\xdd.bak"), named("\xb1\xb8/inner.bak")}
        << QStringList{"inner.rar", named("\xb1\xb8\xb7\xdd.rar")};
#endif
}

void CompressTaskTest::walk()
{
    QFETCH(QStringList, sources);
    QFETCH(QStringList, archives);

    QHash<QString, QString> sourceOf;
    for (int i = 0; i < sources.size(); ++i) {
        writeFile(src() + "/" + sources[i], patterned(5000 + i * 777, i));
        const QString name = QFileInfo(sources[i]).fileName();
        sourceOf[name.left(name.size() - 4) + ".rar"] = src() + "/" + sources[i];
    }
    // Old enough that a time stamp taken from "now" instead of the file would show.
    for (const QString &path : qAsConst(sourceOf)) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2021, 3, 7), QTime(9, 5, 8)),
                                 QFileDevice::FileModificationTime));
    }

    CompressTask task;
    Recorder recorder(&task);
    runNow(task, recorder, out());

    QCOMPARE(filesIn(out()), withSuccessMark(archives));
    QVERIFY(!recorder.events().contains("notfound"));
    for (const QString &archive : archives) {
        const QString source = sourceOf.value(archive);
        QFile file(source);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const ArchiveContent content = readArchive(out() + "/" + archive);
        QVERIFY2(content.valid, qPrintable(archive));
        QCOMPARE(content.entryCount, 1);
        QCOMPARE(content.entryName, QFileInfo(source).fileName());
        QCOMPARE(ArchiveCheck(out() + "/" + archive).entry().rawName, QFile::encodeName(QFileInfo(source).fileName()));
        QCOMPARE(content.method, quint16(8));
        QCOMPARE(content.data, bytes);
        QCOMPARE(content.crc, crcOf(bytes));
        QCOMPARE(content.dateTime, QDateTime(QDate(2021, 3, 7), QTime(9, 5, 8)));
        QCOMPARE(content.localFlags & 0x0800, 0);
        QVERIFY(!content.localHasZip64);
    }
}

void CompressTaskTest::laterFileOfSameNameWins()
{
    writeFile(src() + "/d1/a.bak", "first backup");
    writeFile(src() + "/d2/a.bak", "second backup");
    CompressTask task;
    Recorder recorder(&task);
    runNow(task, recorder, out() + "/");

    QCOMPARE(recorder.messages(), QStringList({"message a.rar", "message a.rar"}));
    QCOMPARE(readArchive(out() + "/a.rar").data, QByteArray("second backup"));
}

void CompressTaskTest::outputDirectoryCreatedWithParents()
{
    writeFile(src() + "/x.bak", "x");
    const QString deep = m_dir->filePath("one/two/three");
    CompressTask task;
    Recorder recorder(&task);
    runNow(task, recorder, deep);
    QVERIFY(readArchive(deep + "/x.rar").valid);
}

void CompressTaskTest::signalOrder_data()
{
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("6000 and 100 bytes")
        << QList<int>{6000, 100}
        << QStringList{"message f0.rar", "progress 68", "progress 100", "written f0.rar", "message f1.rar",
                       "progress 100", "written f1.rar", "finished"};
    QTest::newRow("empty file is done once in place")
        << QList<int>{0} << QStringList{"message f0.rar", "progress 100", "written f0.rar", "finished"};
    QTest::newRow("exactly one piece")
        << QList<int>{4096} << QStringList{"message f0.rar", "progress 100", "written f0.rar", "finished"};
    QTest::newRow("one byte over a piece")
        << QList<int>{4097} << QStringList{"message f0.rar", "progress 99", "progress 100", "written f0.rar",
                                                  "finished"};
}

void CompressTaskTest::signalOrder()
{
    QFETCH(QList<int>, sizes);
    QFETCH(QStringList, events);
    for (int i = 0; i < sizes.size(); ++i)
        writeFile(src() + QString("/f%1.bak").arg(i), patterned(sizes[i], i));

    CompressTask task;
    Recorder recorder(&task);
    // The job's I/O waits behind everyone else's: the idle class, or best effort 7.
    std::atomic<int> ioClass{-1}, ioLevel{-1};
    connect(&task, &CompressTask::sendMessage, this, [&] {
        int level = -1;
        ioClass = ThreadPriority::ioClassOfThisThread(&level);
        ioLevel = level;
    }, Qt::DirectConnection);
    runNow(task, recorder, out());
    QCOMPARE(recorder.events(), events);
#ifdef Q_OS_LINUX
    QVERIFY2(ioClass == 3 || (ioClass == 2 && ioLevel == 7), qPrintable(QString("class %1, level %2").arg(ioClass).arg(ioLevel)));
#endif
    QCOMPARE(readArchive(out() + "/f0.rar").uncompressedSize, quint64(sizes[0]));
    // The last report is of the archive as it was put in place.
    const QString last = out() + QString("/f%1.rar").arg(sizes.size() - 1);
    QCOMPARE(recorder.lastMiB.load(), QFileInfo(last).size() / 1048576.0);
}

void CompressTaskTest::chineseNameReadsBackAsUtf8()
{
    writeFile(src() + "/中文.bak", "数据");
    CompressTask task;
    Recorder recorder(&task);
    runNow(task, recorder, out());

    const ArchiveContent content = readArchive(out() + "/中文.rar");
    QVERIFY(content.valid);
    QCOMPARE(content.entryName, QString("中文.bak"));
    QCOMPARE(content.localFlags & 0x0800, 0x0800);
    QCOMPARE(content.data, QByteArray("数据"));
    QVERIFY(ArchiveCheck(out() + "/中文.rar").holds(src() + "/中文.bak"));
}

void CompressTaskTest::unchangedBackupIsLeftAlone()
{
    writeFile(src() + "/same.bak", patterned(10000));
    CompressTask task;
    {
        Recorder first(&task);
        runNow(task, first, out());
    }
    const QString archive = out() + "/same.rar";
    const QByteArray bytes = readFile(archive);
    // An old time shows a rewrite however soon it comes.
    const QDateTime old(QDate(2020, 1, 1), QTime(0, 0));
    QFile file(archive);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
    file.close();

    Recorder recorder(&task);
    runNow(task, recorder, out());
    QCOMPARE(recorder.events(),
             QStringList({"message same.rar", QString("unchanged same.rar %1").arg(bytes.size()), "finished"}));
    QCOMPARE(task.lastReport().unchanged, 1);
    QCOMPARE(readFile(archive), bytes);
    QCOMPARE(QFileInfo(archive).lastModified(), old);
}

void CompressTaskTest::missingDirectory()
{
    const QString missing = m_dir->filePath("no/such/dir");
    CompressTask task;
    Recorder recorder(&task);
    task.startTask(missing, ".bak", false, QString(), out());
    QTRY_VERIFY(recorder.events().contains("finished"));
    QVERIFY(task.wait(10000));
    QCOMPARE(recorder.events(), QStringList({"nodir " + missing, "notfound", "finished"}));
    QVERIFY(task.isIdle());
    QVERIFY(!QFileInfo::exists(out()));
}

void CompressTaskTest::nothingFound()
{
    writeFile(src() + "/readme.txt", "no backups here");
    CompressTask task;
    Recorder recorder(&task);
    runNow(task, recorder, out());
    QCOMPARE(recorder.events(), QStringList({"notfound", "finished"}));
}

void CompressTaskTest::oneFailureCostsOneArchive_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("failedAt"); // the event on the worker that brings the fault about

    QTest::newRow("source gone after the listing") << "remove" << "message a.rar";
    QTest::newRow("source gone before its copy") << "remove" << "message b.rar";
    QTest::newRow("archive name taken by a directory") << "directory" << "";
    QTest::newRow("source grows during its copy") << "append" << "progress b";
    QTest::newRow("source rewritten during its copy") << "touch" << "progress b";
}

// b.bak fails; its older archive stays, and a.bak and z.bak around it are still archived.
void CompressTaskTest::oneFailureCostsOneArchive()
{
    QFETCH(QString, fault);
    QFETCH(QString, failedAt);
    writeFile(src() + "/sub/a.bak", "a");
    writeFile(src() + "/sub/b.bak", patterned(10000));
    writeFile(src() + "/z.bak", "z");
    const QString blocked = out() + "/b.rar";
    if (fault == "directory")
        QVERIFY(QDir().mkpath(blocked + "/inside"));
    else
        writeFile(blocked, "previous archive");

    CompressTask task;
    const QString source = src() + "/sub/b.bak";
    auto bringAbout = [fault, source] {
        if (fault == "remove")
            QFile::remove(source);
        QFile file(source);
        if (fault == "append" && file.open(QIODevice::Append))
            file.write("more");
        if (fault == "touch" && file.open(QIODevice::ReadWrite))
            file.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime);
    };
    std::atomic<bool> atB{false}, done{false};
    // Direct connections: these run on the worker, at the moment of the event.
    connect(&task, &CompressTask::sendMessage, &task, [&](const QString &path) {
        atB = path.endsWith("b.rar");
        if (!done && failedAt == "message " + QFileInfo(path).fileName())
            bringAbout(), done = true;
    }, Qt::DirectConnection);
    connect(&task, &CompressTask::sendProgress, &task, [&] {
        if (!done && atB && failedAt == "progress b")
            bringAbout(), done = true;
    }, Qt::DirectConnection);
    Recorder recorder(&task);
    runNow(task, recorder, out());

    QCOMPARE(recorder.withoutProgress(),
             QStringList({"message a.rar", "written a.rar", "message b.rar", "failed b.rar", "message z.rar",
                          "written z.rar", "finished"}));
    QCOMPARE(filesIn(out()), QStringList({"a.rar", "b.rar", "z.rar"}));
    QCOMPARE(readArchive(out() + "/a.rar").data, QByteArray("a"));
    QCOMPARE(readArchive(out() + "/z.rar").data, QByteArray("z"));
    if (fault == "directory") {
        QVERIFY(QFileInfo(blocked + "/inside").isDir());
    } else {
        QFile previous(blocked);
        QVERIFY(previous.open(QIODevice::ReadOnly));
        QCOMPARE(previous.readAll(), QByteArray("previous archive"));
    }
}

void CompressTaskTest::symlinkCycleIsWalkedOnce()
{
#ifndef Q_OS_UNIX
    QSKIP("QFile::link makes a shell shortcut (.lnk) on Windows, which no directory walk follows");
#endif
    writeFile(src() + "/inner/x.bak", "x");
    QVERIFY(QFile::link(src(), src() + "/inner/loop"));
    QVERIFY(QFile::link(src() + "/inner", src() + "/again"));
    CompressTask task;
    Recorder recorder(&task);
    runNow(task, recorder, out());
    // Reached once through "again" (a plain link, followed) and once through "inner".
    QCOMPARE(recorder.messages(), QStringList({"message x.rar", "message x.rar"}));
    QCOMPARE(filesIn(out()), withSuccessMark({"x.rar"}));
}

void CompressTaskTest::specialFilesAreSkipped()
{
#ifdef Q_OS_UNIX
    QVERIFY(::mkfifo(QFile::encodeName(src() + "/pipe.bak").constData(), 0600) == 0);
    QVERIFY(QFile::link(src() + "/nowhere", src() + "/dangling.bak"));
#else
    QSKIP("FIFOs and dangling links are POSIX file system entries");
#endif
    writeFile(src() + "/real.bak", "real");
    CompressTask task;
    Recorder recorder(&task);
    runNow(task, recorder, out());
    QCOMPARE(recorder.messages(), QStringList{"message real.rar"});
    QCOMPARE(filesIn(out()), withSuccessMark({"real.rar"}));
}

void CompressTaskTest::abortMidFileKeepsOlderArchive()
{
    writeFile(src() + "/big.bak", "the old backup");
    {
        CompressTask task;
        Recorder recorder(&task);
        runNow(task, recorder, out());
    }
    // Long enough that the abort, which comes within a few polls of the first report, finds
    // the copy still going: libdeflate takes 4 MiB blocks at over 100 MB/s a CPU.
    writeFile(src() + "/big.bak", patterned(64 << 20));
    const QByteArray mark = readFile(out() + "/" + LastSuccessFile::kFileName);

    QTemporaryDir copyOfSources;
    CompressTask task;
    QSignalSpy progress(&task, &CompressTask::sendProgress);
    QSignalSpy finished(&task, &CompressTask::sendTaskFinished);
    task.startTask(src(), ".bak", false, QString(), out());
    QTRY_VERIFY(progress.count() > 0);
    task.abort();
    QVERIFY(task.isFinished());
    QVERIFY(task.isIdle());
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 0);

    QCOMPARE(filesIn(out()), withSuccessMark({"big.rar"}));
    QCOMPARE(readArchive(out() + "/big.rar").data, QByteArray("the old backup"));
    QCOMPARE(readFile(out() + "/" + LastSuccessFile::kFileName), mark);
}

// When the slot falls due is DailySchedule's (dailyscheduletest); here the worker runs it.
void CompressTaskTest::scheduledJobRunsAtItsSlot()
{
    writeFile(src() + "/x.bak", "x");
    Schedule schedule(7, 4);
    auto &[clock, task, recorder] = schedule;
    QStringList lastSlots;
    connect(&task, &CompressTask::sendLastSlot, &task,
            [&lastSlots](const QDateTime &slot) { lastSlots << slot.toString("yyyy-MM-dd hh:mm"); });
    task.startTask(src(), ".bak", true, "07:05", out());

    QTRY_VERIFY(clock.reads() > 3); // two polls before the slot
    QVERIFY(recorder.events().isEmpty());
    QVERIFY(!task.isIdle());

    clock.set(7, 5);
    QTRY_COMPARE(recorder.messages().size(), 1);
    clock.nextDay();
    QTRY_COMPARE(recorder.messages().size(), 2);
    QTRY_COMPARE(lastSlots, QStringList({"2026-12-08 07:05", "2026-12-09 07:05", "2026-12-10 07:05"}));

    task.stopTask();
    QVERIFY(task.wait(5000));
    QCOMPARE(recorder.events().filter("finished").size(), 0);
    QCOMPARE(recorder.events().filter("notfound").size(), 0);
}

void CompressTaskTest::stopWhileWaitingEmitsNothing()
{
    writeFile(src() + "/x.bak", "x");
    Schedule schedule(12, 0);
    auto &[clock, task, recorder] = schedule;
    task.startTask(src(), ".bak", true, "8:00", out());
    QTRY_VERIFY(clock.reads() > 1);
    task.stopTask();
    QVERIFY(task.wait(2000));
    QVERIFY(task.isIdle());
    QCoreApplication::processEvents();
    QVERIFY(recorder.events().isEmpty());
    QVERIFY(!QFileInfo::exists(out()));
}

void CompressTaskTest::restartInSameMinuteRunsAgain()
{
    writeFile(src() + "/x.bak", "x");
    Schedule schedule(7, 5);
    auto &[clock, task, recorder] = schedule;
    task.startTask(src(), ".bak", true, "7:05", out());
    QTRY_COMPARE(recorder.messages().size(), 1);
    task.stopTask();
    QVERIFY(task.wait(5000));
    task.startTask(src(), ".bak", true, QString(), out()); // an empty time keeps 7:05
    QTRY_COMPARE(recorder.messages().size(), 2);
    task.stopTask();
    QVERIFY(task.wait(5000));
}

void CompressTaskTest::firstScheduledRunFindingNothingEnds()
{
    Schedule schedule(23, 40);
    auto &[clock, task, recorder] = schedule;
    task.startTask(src(), ".bak", true, "23:40", out());
    QTRY_VERIFY(recorder.events().contains("finished"));
    QVERIFY(task.wait(5000));
    QCOMPARE(recorder.events(), QStringList({"notfound", "finished"}));
    QVERIFY(task.isIdle());
}

void CompressTaskTest::laterEmptyDaysEmitNothing()
{
    writeFile(src() + "/x.bak", "x");
    Schedule schedule(7, 5);
    auto &[clock, task, recorder] = schedule;
    task.startTask(src(), ".bak", true, "7:05", out());
    QTRY_COMPARE(recorder.messages().size(), 1);
    QTRY_VERIFY(recorder.events().contains("progress 100"));

    QVERIFY(QFile::remove(src() + "/x.bak"));
    const int seen = clock.reads();
    clock.nextDay();
    // The next read sees the new day and runs its job; the one after comes when it is over.
    QTRY_VERIFY(clock.reads() > seen + 2);
    QCOMPARE(recorder.events(), QStringList({"message x.rar", "progress 100", "written x.rar"}));
    QVERIFY(task.isRunning());
    QVERIFY(!task.isIdle());
    task.stopTask();
    QVERIFY(task.wait(5000));
}

void CompressTaskTest::largeSourceUsesZip64_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("over 4 GiB") << 0x100000000LL + (1 << 20);
    // Incompressible data of this size would deflate past 4 GiB; both its sizes are below.
    QTest::newRow("just under 4 GiB") << 0xFFFFFFFFLL - (1 << 20);
}

void CompressTaskTest::largeSourceUsesZip64()
{
    QFETCH(qint64, size);
    const QString path = src() + "/huge.bak";
    if (!makeSparse(path, size))
        QSKIP("this file system cannot hold a sparse file over 4 GiB");
    CompressTask task;
    Recorder recorder(&task);
    runNow(task, recorder, out());

    const ArchiveContent content = readArchive(out() + "/huge.rar", false);
    QVERIFY(content.valid);
    QCOMPARE(content.uncompressedSize, quint64(size));
    QVERIFY(content.localHasZip64);
    QVERIFY(ArchiveCheck(out() + "/huge.rar").holds(path));
    // 1024 or 1025 blocks: every second one's start is listed, beside the ZIP64 field.
    QCOMPARE(ArchiveCheck(out() + "/huge.rar").entry().blockStride, quint32(2));
    if (!QStandardPaths::findExecutable("7z").isEmpty()) {
        QProcess sevenZip;
        sevenZip.setProcessChannelMode(QProcess::MergedChannels);
        sevenZip.start("7z", {"t", out() + "/huge.rar"});
        QVERIFY(sevenZip.waitForFinished(300000));
        const QByteArray report = sevenZip.readAll();
        QVERIFY2(report.contains("Everything is Ok") && !report.contains("Warning"), report.constData());
    }
    QCOMPARE(recorder.events().last(), QString("finished"));
    QVERIFY(recorder.events().contains("progress 100"));

    // All zeros: the CRC of the whole entry follows from that of one zero piece.
    static const QByteArray zeros(1 << 20, '\0');
    uLong crc = crc32(0L, Z_NULL, 0);
    for (qint64 done = 0; done < size; done += zeros.size()) {
        const qint64 piece = std::min<qint64>(zeros.size(), size - done);
        crc = crc32(crc, reinterpret_cast<const Bytef *>(zeros.constData()), uInt(piece));
    }
    QCOMPARE(content.crc, quint32(crc));
    QVERIFY(QFile::remove(path));
}

QTEST_GUILESS_MAIN(CompressTaskTest)
#include "compresstasktest.moc"
