#include "archivereader.h"
#include "paralleldeflater.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

#define ZLIB_CONST
#include <zlib.h>

#include <tuple>

namespace {

constexpr int kBlock = ParallelDeflater::kBlockSize;

using Deflated = std::tuple<QByteArray, quint32, qint64>; // stream, CRC, input size

// The caller's loop: drain while full, push, take what is ready; the rest at the end.
Deflated deflateAll(const QByteArray &source, int compressors)
{
    ParallelDeflater deflater(compressors);
    QByteArray stream;
    int at = 0;
    do {
        const QByteArray block = source.mid(at, kBlock);
        at += block.size();
        while (deflater.full())
            stream += deflater.takeNext();
        deflater.push(block, at == source.size());
        while (deflater.nextReady())
            stream += deflater.takeNext();
    } while (at < source.size());
    while (deflater.inFlight() > 0)
        stream += deflater.takeNext();
    return {deflater.failed() ? QByteArray() : stream, deflater.crc(), deflater.inputSize()};
}

QByteArray inflateRaw(const QByteArray &stream, int size)
{
    QByteArray out(size, '\0');
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<const Bytef *>(stream.constData());
    z.avail_in = uInt(stream.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const bool whole = inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_in == 0
                       && z.total_out == uLong(size);
    inflateEnd(&z);
    return whole ? out : QByteArray("not one whole stream");
}

// The Deflate stream inside pigz's zlib format (2-byte header, 4-byte Adler-32).
QByteArray pigzStream(const QByteArray &source)
{
    QProcess pigz;
    pigz.start(QStringLiteral("pigz"), {"-6", "-b", "1024", "-z", "-c"});
    pigz.waitForStarted();
    pigz.write(source);
    pigz.closeWriteChannel();
    pigz.waitForFinished(120000);
    const QByteArray zlib = pigz.readAllStandardOutput();
    return zlib.mid(2, zlib.size() - 6);
}

QByteArray databaseLike(int size)
{
    QRandomGenerator rng(7);
    QByteArray text;
    const char *format = "INSERT INTO orders VALUES (%d, 'client-%u', %u.%02u, '2024-0%u-1%d');\n";
    for (int id = 1; text.size() < size; ++id)
        text += QString::asprintf(format, id, rng.bounded(5000u), rng.bounded(1000u),
                                  rng.bounded(100u), rng.bounded(1u, 10u), id % 10).toLatin1();
    return text.left(size);
}

} // namespace

class ParallelDeflaterTest : public QObject
{
    Q_OBJECT

private slots:
    void sameStreamOnAnyThreadCount_data();
    void sameStreamOnAnyThreadCount();
    void destroyedMidStream();
};

void ParallelDeflaterTest::sameStreamOnAnyThreadCount_data()
{
    QTest::addColumn<QByteArray>("source");
    const QByteArray records = databaseLike(5 * kBlock + 4321);
    QByteArray random(2 * kBlock + 1000, Qt::Uninitialized);
    QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    QTest::newRow("database-like, several blocks and a bit") << records;
    QTest::newRow("random bytes") << random;
    QTest::newRow("zeros, whole blocks") << QByteArray(3 * kBlock, '\0');
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("one block") << records.left(kBlock);
    QTest::newRow("one block and a byte") << records.left(kBlock + 1);
}

void ParallelDeflaterTest::sameStreamOnAnyThreadCount()
{
    QFETCH(QByteArray, source);
    const auto [stream, crc, size] = deflateAll(source, 0);
    QCOMPARE(inflateRaw(stream, source.size()), source);
    QCOMPARE(crc, crcOf(source));
    QCOMPARE(size, qint64(source.size()));
    for (int n : {1, 2, 7})
        QVERIFY2(deflateAll(source, n) == std::tie(stream, crc, size), QByteArray::number(n));
    if (!QStandardPaths::findExecutable(QStringLiteral("pigz")).isEmpty())
        QVERIFY(pigzStream(source) == stream);
}

// Blocks queued and in work when the deflater goes: its threads must end, and nothing leak.
void ParallelDeflaterTest::destroyedMidStream()
{
    ParallelDeflater deflater(3);
    while (!deflater.full())
        deflater.push(databaseLike(kBlock), false);
    QVERIFY(!deflater.takeNext().isEmpty());
}

QTEST_MAIN(ParallelDeflaterTest)
#include "paralleldeflatertest.moc"
