// Measures one run-now job through CompressTask beside a single zlib level-6 Deflate stream
// over the same bytes, with a receiver that takes the progress reports the way the window
// does: straight into a ProgressMailbox on the worker's thread, emptied once a frame here.
//
//   halcyonbench job SOURCE_DIR OUTPUT_DIR [leave-cache]
//                                            one job; prints seconds, sizes, CPU time, peak RSS,
//                                            the threads it left behind; leave-cache: the page
//                                            cache left to the system, as a baseline
//   halcyonbench zlib FILE                   one Deflate stream on this thread; seconds, size
//   halcyonbench log ROWS [BURST]            the window's monitor log taking ROWS archive rows,
//                                            BURST rows to an event-loop pass (default 50)
// Every figure is printed as "key=value" on a line of its own, for ./bench to collect.

#include "archivewriter.h"
#include "compresstask.h"
#include "monitorlist.h"
#include "progressmailbox.h"
#include "sourcepagecache.h"
#include "vesper.h"
#include "writebehind.h"

#include <quazip.h>
#include <quazipfileinfo.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <zlib.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>

namespace {

// A "VmHWM:" (peak) or "VmRSS:" (now) figure of this process, in KiB.
qint64 statusKiB(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 peakRssKiB()
{
    return statusKiB("VmHWM:");
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The threads beyond those before the job, given up to a second to go: a thread that has
// been waited for may take a moment to leave the system's list.
int threadsLeft(int before)
{
    for (int i = 0; i < 100 && threadCount() > before; ++i)
        QThread::msleep(10);
    return threadCount() - before;
}

// User and system time of this thread (RUSAGE_THREAD) or of the process, ended threads included.
double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void print(const char *key, double value)
{
    std::printf("%s=%.12g\n", key, value);
}

// Stands in for the window's monitor log (MonitorList): one bar and one size text for the
// newest archive, fed from the mailbox once a frame.
class ProgressReceiver : public QObject
{
    Q_OBJECT
public:
    ProgressReceiver()
    {
        m_frame.setSingleShot(true);
        m_frame.setInterval(MonitorList::kFrameMs);
        connect(&m_frame, &QTimer::timeout, this, &ProgressReceiver::showFrame);
    }

    // The worker's thread.
    void beginRow() { m_mailbox.beginRow(); }
    void report(int value, double mebibytes)
    {
        ++reports;
        if (m_mailbox.post(value, mebibytes))
            QMetaObject::invokeMethod(this, &ProgressReceiver::startFrame, Qt::QueuedConnection);
    }

    // This thread.
    void appendRow(const QString &)
    {
        ++m_rows;
        takeReports();
        startFrame();
    }
    void takeReports()
    {
        for (const ProgressMailbox::Report &report : m_mailbox.take(m_rows)) {
            ++shown;
            m_bar.setValue(report.value);
            m_size.setText(QString::number(report.mebibytes, 'f', 2) + QStringLiteral(" MB"));
        }
    }

    std::atomic<qint64> reports{0};
    qint64 shown = 0;
    qint64 frames = 0;

private:
    void startFrame()
    {
        if (!m_frame.isActive())
            m_frame.start();
    }
    void showFrame()
    {
        ++frames;
        takeReports();
    }

    ProgressMailbox m_mailbox;
    QTimer m_frame;
    QProgressBar m_bar;
    QLabel m_size;
    int m_rows = 0;
};

// The entries' compressed sizes, for comparing with the single stream's.
qint64 entryBytes(const QString &archivePath)
{
    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdUnzip))
        return -1;
    qint64 bytes = 0;
    for (const QuaZipFileInfo64 &info : zip.getFileInfoList64())
        bytes += qint64(info.compressedSize);
    return bytes;
}

int runJob(const QString &sourceDir, const QString &outputDir)
{
    CompressTask task;
    ProgressReceiver receiver;
    QObject::connect(&task, &CompressTask::sendMessage, &receiver, &ProgressReceiver::beginRow,
                     Qt::DirectConnection);
    QObject::connect(&task, &CompressTask::sendMessage, &receiver, &ProgressReceiver::appendRow);
    QObject::connect(&task, &CompressTask::sendProgress, &receiver, &ProgressReceiver::report,
                     Qt::DirectConnection);
    // The job's own thread: reading, writing, progress; the compressors have ended by then.
    std::atomic<double> jobThreadCpu{0};
    QObject::connect(&task, &CompressTask::sendTaskFinished, &task,
                     [&jobThreadCpu] { jobThreadCpu = cpuSeconds(RUSAGE_THREAD); }, Qt::DirectConnection);
    QObject::connect(&task, &CompressTask::sendTaskFinished, &receiver, &ProgressReceiver::takeReports);
    QObject::connect(&task, &CompressTask::sendTaskFinished, qApp, &QCoreApplication::quit);

    const int threadsBefore = threadCount();
    const double processCpu0 = cpuSeconds(RUSAGE_SELF);
    const double mainCpu0 = cpuSeconds(RUSAGE_THREAD);
    QElapsedTimer timer;
    timer.start();
    task.startTask(sourceDir, QStringLiteral(".bak"), false, QString(), outputDir);
    qApp->exec();
    task.wait();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double processCpu = cpuSeconds(RUSAGE_SELF) - processCpu0;
    const double mainCpu = cpuSeconds(RUSAGE_THREAD) - mainCpu0;

    qint64 archives = 0;
    qint64 archiveBytes = 0;
    qint64 entriesBytes = 0;
    QDirIterator found(outputDir, {QStringLiteral("*.rar")}, QDir::Files);
    while (found.hasNext()) {
        found.next();
        ++archives;
        archiveBytes += found.fileInfo().size();
        entriesBytes += entryBytes(found.filePath());
    }
    print("job_seconds", seconds);
    print("compressors", ArchiveWriter::defaultCompressors());
    print("archives", double(archives));
    print("unchanged", double(task.lastReport().unchanged));
    print("archive_bytes", double(archiveBytes));
    print("entry_bytes", double(entriesBytes));
    print("process_cpu_seconds", processCpu);
    print("job_thread_cpu_seconds", jobThreadCpu);
    print("main_thread_cpu_seconds", mainCpu);
    print("progress_reports", double(receiver.reports.load()));
    print("progress_shown", double(receiver.shown));
    print("frames", double(receiver.frames));
    print("peak_rss_kib", double(peakRssKiB()));
    print("threads_left", threadsLeft(threadsBefore));
    return 0;
}

int runZlib(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return 1;
    QByteArray in(1 << 16, Qt::Uninitialized);
    QByteArray out(1 << 17, Qt::Uninitialized);
    qint64 compressed = 0;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const qint64 count = file.read(in.data(), in.size());
        const int flush = count <= 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = reinterpret_cast<Bytef *>(in.data());
        stream.avail_in = uInt(std::max<qint64>(count, 0));
        int result;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            result = deflate(&stream, flush);
            compressed += out.size() - stream.avail_out;
        } while (stream.avail_out == 0);
        if (flush == Z_FINISH || result == Z_STREAM_END)
            break;
    }
    deflateEnd(&stream);
    print("zlib_seconds", timer.nsecsElapsed() / 1e9);
    print("zlib_bytes", double(compressed));
    return 0;
}

// Lets the window show what it was given: the log shows new rows once a frame.
void settle()
{
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window's log fed as a job feeds it, through the worker's signals: a row, then its
// progress reports, in bursts between passes of the event loop. The time per thousand rows
// shows whether a row costs more when many rows came before it; the resident memory after
// the first 100 rows (more than a screenful) and at the end, what a row beyond those costs.
int runLog(int rows, int burst)
{
    const int firstRows = 100;
    qint64 rssAfterFirst = 0;
    Vesper window;
    CompressTask *task = window.findChild<CompressTask *>();
    window.show();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    qint64 thousandStart = 0;
    double firstThousand = 0;
    double lastThousand = 0;
    for (int row = 0; row < rows; ++row) {
        emit task->sendMessage(QStringLiteral("/var/backups/out/nightly-%1.rar").arg(row));
        for (int percent : {40, 80, 100})
            emit task->sendProgress(percent, percent / 100.0);
        if ((row + 1) % burst == 0 || row + 1 == rows)
            QCoreApplication::processEvents();
        if (row + 1 == firstRows) {
            const qint64 settleStart = timer.nsecsElapsed();
            settle();
            rssAfterFirst = statusKiB("VmRSS:");
            thousandStart += timer.nsecsElapsed() - settleStart; // not the rows' time
        }
        if ((row + 1) % 1000 == 0) {
            const double seconds = (timer.nsecsElapsed() - thousandStart) / 1e9;
            if (row + 1 == 1000)
                firstThousand = seconds;
            lastThousand = seconds;
            thousandStart = timer.nsecsElapsed();
        }
    }
    settle();
    if (rows > firstRows)
        print("log_bytes_per_row", (statusKiB("VmRSS:") - rssAfterFirst) * 1024.0 / (rows - firstRows));
    print("log_rows", rows);
    print("log_seconds", timer.nsecsElapsed() / 1e9);
    print("log_first_thousand_seconds", firstThousand);
    print("log_last_thousand_seconds", lastThousand);
    print("peak_rss_kib", double(peakRssKiB()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if ((args.size() == 4 || (args.size() == 5 && args[4] == QLatin1String("leave-cache")))
        && args[1] == QLatin1String("job")) {
        SourcePageCache::setEnabled(args.size() == 4);
        WriteBehind::setEnabled(args.size() == 4);
        return runJob(args[2], args[3]);
    }
    if (args.size() == 3 && args[1] == QLatin1String("zlib"))
        return runZlib(args[2]);
    if ((args.size() == 3 || args.size() == 4) && args[1] == QLatin1String("log"))
        return runLog(args[2].toInt(), args.value(3, QStringLiteral("50")).toInt());
    QTextStream(stderr) << "usage: halcyonbench job SOURCE_DIR OUTPUT_DIR [leave-cache] | zlib FILE | log ROWS [BURST]\n";
    return 2;
}

#include "halcyonbench.moc"
