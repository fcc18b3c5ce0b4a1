// Measures one run-now job through CompressTask against the single-core limit (a bare zlib
// level-6 Deflate pass over the same bytes), with a receiver on the main thread's event loop
// that does what the window's progress slot does.
//
//   halcyonbench job SOURCE_DIR OUTPUT_DIR   one job; prints seconds, MiB, peak RSS, queue peak
//   halcyonbench zlib FILE                   one Deflate pass; prints seconds
//   halcyonbench floor FILE OUTPUT           the same, plus CRC-32 and OUTPUT written and committed
//   halcyonbench log ROWS [BURST]            the window's monitor log taking ROWS archive rows,
//                                            BURST rows to an event-loop pass (default 50)
// Every figure is printed as "key=value" on a line of its own, for ./bench to collect.

#include "compresstask.h"
#include "vesper.h"
#include "wholefile.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTextStream>
#include <QTimer>

#include <zlib.h>

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

void print(const char *key, double value)
{
    std::printf("%s=%.6g\n", key, value);
}

// Stands in for the window: one bar and one size text for the newest archive.
class ProgressReceiver : public QObject
{
    Q_OBJECT
public:
    std::atomic<qint64> emitted{0};
    qint64 received = 0;
    qint64 peakQueued = 0;
    qint64 archives = 0;

    void recvMessage(const QString &) { ++archives; }
    void recvProgress(int value, double bytes)
    {
        ++received;
        peakQueued = std::max(peakQueued, emitted.load() - received + 1);
        m_bar.setValue(value);
        m_size.setText(QString::number(bytes, 'f', 2) + QStringLiteral(" MB"));
    }

private:
    QProgressBar m_bar;
    QLabel m_size;
};

int runJob(const QString &sourceDir, const QString &outputDir)
{
    CompressTask task;
    ProgressReceiver receiver;
    QObject::connect(&task, &CompressTask::sendMessage, &receiver, &ProgressReceiver::recvMessage);
    if (!qEnvironmentVariableIsSet("BENCH_NO_RECEIVER"))
        QObject::connect(&task, &CompressTask::sendProgress, &receiver, &ProgressReceiver::recvProgress);
    // Counts on the worker's side, as each report leaves.
    QObject::connect(&task, &CompressTask::sendProgress, &task, [&receiver] { ++receiver.emitted; },
                     Qt::DirectConnection);
    QObject::connect(&task, &CompressTask::sendTaskFinished, qApp, &QCoreApplication::quit);

    QElapsedTimer timer;
    timer.start();
    task.startTask(sourceDir, QStringLiteral(".bak"), false, QString(), outputDir);
    qApp->exec();
    task.wait();
    const double seconds = timer.nsecsElapsed() / 1e9;

    qint64 archiveBytes = 0;
    QDirIterator archives(outputDir, {QStringLiteral("*.rar")}, QDir::Files);
    while (archives.hasNext()) {
        archives.next();
        archiveBytes += archives.fileInfo().size();
    }
    print("job_seconds", seconds);
    print("archives", double(receiver.archives));
    print("archive_bytes", double(archiveBytes));
    print("progress_emitted", double(receiver.emitted.load()));
    print("progress_received", double(receiver.received));
    print("peak_queued", double(receiver.peakQueued));
    print("peak_rss_kib", double(peakRssKiB()));
    return 0;
}

// With an output path, also what any archive of the stream costs besides: the CRC-32 of the
// data, and the stream written and committed to disk (flushed, fsync'd, renamed).
int runZlib(const QString &path, const QString &outputPath = QString())
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    WholeFile output(outputPath.isEmpty() ? QStringLiteral("unused") : outputPath);
    if (!outputPath.isEmpty() && !output.open())
        return 1;
    uLong crc = crc32(0L, Z_NULL, 0);
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
        if (!outputPath.isEmpty())
            crc = crc32(crc, stream.next_in, stream.avail_in);
        int result;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            result = deflate(&stream, flush);
            compressed += out.size() - stream.avail_out;
            if (!outputPath.isEmpty())
                output.device().write(out.constData(), out.size() - stream.avail_out);
        } while (stream.avail_out == 0);
        if (flush == Z_FINISH || result == Z_STREAM_END)
            break;
    }
    deflateEnd(&stream);
    if (!outputPath.isEmpty()) {
        if (!output.commit())
            return 1;
        print("floor_seconds", timer.nsecsElapsed() / 1e9);
        print("floor_crc", double(crc));
        return 0;
    }
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
    if (args.size() == 4 && args[1] == QLatin1String("job"))
        return runJob(args[2], args[3]);
    if (args.size() == 3 && args[1] == QLatin1String("zlib"))
        return runZlib(args[2]);
    if (args.size() == 4 && args[1] == QLatin1String("floor"))
        return runZlib(args[2], args[3]);
    if ((args.size() == 3 || args.size() == 4) && args[1] == QLatin1String("log"))
        return runLog(args[2].toInt(), args.value(3, QStringLiteral("50")).toInt());
    QTextStream(stderr) << "usage: halcyonbench job SOURCE_DIR OUTPUT_DIR | zlib FILE | floor FILE OUTPUT | log ROWS [BURST]\n";
    return 2;
}

#include "halcyonbench.moc"
