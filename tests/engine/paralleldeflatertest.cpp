#include "archivereader.h"
#include "paralleldeflater.h"

#include <QRandomGenerator>
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

// One zlib level-6 stream over the whole source, the size that blocks may cost a little over.
qint64 zlibStreamSize(const QByteArray &source)
{
    uLongf size = compressBound(uLong(source.size()));
    QByteArray out(int(size), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(source.constData()),
              uLong(source.size()), 6);
    return qint64(size) - 6; // the zlib format's header and Adler-32
}

// A proven stream, spoilt as a fault in memory or a bug of the compressor would spoil it.
QByteArray damaged(QByteArray stream, const QString &damage)
{
    if (damage == "flip")
        stream[stream.size() / 2] = char(stream[stream.size() / 2] ^ 0x10);
    if (damage == "truncate")
        stream.chop(1);
    if (damage == "append")
        stream.append('\0');
    return stream;
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
    QTest::addColumn<QString>("damage"); // of the stream fed to the proof, which must then fail
    const QByteArray records = databaseLike(5 * kBlock + 4321);
    QByteArray random(2 * kBlock + 1000, Qt::Uninitialized);
    QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    QTest::newRow("database-like, several blocks and a bit") << records << "";
    QTest::newRow("random bytes") << random << "";
    QTest::newRow("zeros, whole blocks") << QByteArray(3 * kBlock, '\0') << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("one byte") << QByteArray("x") << "";
    QTest::newRow("one block") << records.left(kBlock) << "";
    QTest::newRow("one block and a byte") << records.left(kBlock + 1) << "";
    QTest::newRow("a bit flipped fails the proof") << records.left(kBlock) << "flip";
    QTest::newRow("a stream cut short fails the proof") << records.left(kBlock + 1) << "truncate";
    QTest::newRow("a byte after the end fails the proof") << QByteArray("x") << "append";
    QTest::newRow("another CRC fails the proof") << records.left(kBlock) << "crc";
}

void ParallelDeflaterTest::sameStreamOnAnyThreadCount()
{
    QFETCH(QByteArray, source);
    QFETCH(QString, damage);
    const auto [stream, crc, size] = deflateAll(source, 0);
    QCOMPARE(inflateRaw(stream, source.size()), source);
    QCOMPARE(crc, crcOf(source));
    QCOMPARE(size, qint64(source.size()));
    for (int n : {1, 2, 7})
        QVERIFY2(deflateAll(source, n) == std::tie(stream, crc, size), QByteArray::number(n));
    // Blocks cost at most 1.2 % over one stream, where there are bytes enough to count (not
    // for zeros, which shrink a thousandfold).
    const qint64 single = zlibStreamSize(source);
    if (source.size() >= kBlock && single > source.size() / 100)
        QVERIFY2(stream.size() <= 1.012 * single, qPrintable(QString("%1 > 1.012 * %2").arg(stream.size()).arg(single)));
    // The joined stream is proven the way each of its blocks was.
    QByteArray fed = damaged(stream, damage);
    QCOMPARE(ParallelDeflater::proveAndJoin(fed, size, damage == "crc" ? crc ^ 1 : crc, true), damage.isEmpty());
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
