#include "entryinflater.h"
#include "paralleldeflater.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <utility>

namespace {

constexpr int kBlock = ParallelDeflater::kBlockSize;
using Failure = EntryInflater::Failure;

// An entry's source, its stream as the writer makes it and where each block starts in it.
struct Deflated
{
    QByteArray source;
    QByteArray stream;
    QVector<quint64> starts;
    quint32 crc = 0;
};

Deflated deflateBlocks(const QByteArray &source)
{
    ParallelDeflater deflater(2);
    Deflated result{source, {}, {}, 0};
    const auto take = [&] {
        result.starts.append(quint64(result.stream.size()));
        result.stream += deflater.takeNext();
    };
    int at = 0;
    do {
        while (deflater.full())
            take();
        deflater.push(source.mid(at, kBlock), at + kBlock >= source.size());
        at += kBlock;
    } while (at < source.size());
    while (deflater.inFlight() > 0)
        take();
    result.crc = deflater.crc();
    return result;
}

} // namespace

Q_DECLARE_METATYPE(EntryInflater::Failure)

class EntryInflaterTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void inflate_data();
    void inflate();

private:
    QTemporaryDir m_dir;
    QHash<QString, Deflated> m_entries;
};

void EntryInflaterTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_entries["blocks"] = deflateBlocks(patterned(5 * kBlock + 12345));
    m_entries["small"] = deflateBlocks(patterned(100000, 2));
    m_entries["empty"] = deflateBlocks(QByteArray());
}

void EntryInflaterTest::inflate_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("stride"); // 0: no index; -1: stored
    QTest::addColumn<int>("workers");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("reason"); // what it says

    const Failure none = Failure::None;
    const Failure data = Failure::Data;
    QTest::newRow("index of stride 1") << "blocks" << 1 << 2 << "" << none << "";
    QTest::newRow("index of stride 2") << "blocks" << 2 << 2 << "" << none << "";
    QTest::newRow("stride 1 on the caller's thread") << "blocks" << 1 << 0 << "" << none << "";
    QTest::newRow("stride 2 on the caller's thread") << "blocks" << 2 << 0 << "" << none << "";
    QTest::newRow("no index") << "blocks" << 0 << 2 << "" << none << "";
    QTest::newRow("stored") << "blocks" << -1 << 2 << "" << none << "";
    QTest::newRow("one small block") << "small" << 1 << 2 << "" << none << "";
    QTest::newRow("empty") << "empty" << 1 << 2 << "" << none << "";
    QTest::newRow("an index that does not rise is passed over") << "blocks" << 1 << 2 << "index" << none << "";
    QTest::newRow("a flipped byte, stride 1") << "blocks" << 1 << 2 << "flip" << data << "损坏";
    QTest::newRow("a flipped byte, stride 2") << "blocks" << 2 << 2 << "flip" << data << "损坏";
    QTest::newRow("a flipped byte, no index") << "blocks" << 0 << 2 << "flip" << data << "损坏";
    QTest::newRow("a stream cut short, stride 1") << "blocks" << 1 << 2 << "short stream" << data << "不完整";
    QTest::newRow("a stream cut short, no index") << "blocks" << 0 << 2 << "short stream" << data << "不完整";
    QTest::newRow("a file cut short") << "blocks" << 2 << 2 << "short file" << data << "提前结束";
    QTest::newRow("another CRC, stride 1") << "blocks" << 1 << 2 << "crc" << data << "CRC-32";
    QTest::newRow("another CRC, stored") << "blocks" << -1 << 2 << "crc" << data << "CRC-32";
    QTest::newRow("a larger size, stride 1") << "blocks" << 1 << 2 << "larger" << data << "少于";
    QTest::newRow("a smaller size, stride 2") << "blocks" << 2 << 2 << "smaller" << data << "多于";
    QTest::newRow("a smaller size, no index") << "blocks" << 0 << 2 << "smaller" << data << "多于";
    QTest::newRow("another size, stored") << "blocks" << -1 << 2 << "larger" << data << "不符";
    QTest::newRow("a sink that refuses") << "blocks" << 1 << 2 << "sink" << Failure::Sink << "disk full";
    QTest::newRow("a sink that refuses, no index") << "blocks" << 0 << 2 << "sink" << Failure::Sink << "disk full";
}

void EntryInflaterTest::inflate()
{
    QFETCH(QString, entry);
    QFETCH(int, stride);
    QFETCH(int, workers);
    QFETCH(QString, damage);
    QFETCH(Failure, failure);
    QFETCH(QString, reason);
    const Deflated &deflated = m_entries[entry];
    QByteArray bytes = stride < 0 ? deflated.source : deflated.stream;
    EntryInflater::Entry facts;
    facts.method = stride < 0 ? 0 : 8;
    facts.size = quint64(deflated.source.size());
    facts.crc = deflated.crc;
    facts.dataOffset = 30; // where a local header would be
    facts.compressedSize = quint64(bytes.size());
    if (stride > 0) {
        facts.blockStride = quint32(stride);
        facts.blockSizeLog2 = 22;
        for (int i = stride; i < deflated.starts.size(); i += stride)
            facts.blockStarts.append(deflated.starts[i]);
    }

    if (damage == "flip")
        bytes[int(deflated.starts[1]) + 3] = char(bytes[int(deflated.starts[1]) + 3] ^ 0x10);
    if (damage == "short stream")
        facts.compressedSize -= 10;
    if (damage == "crc")
        facts.crc ^= 1;
    facts.size += damage == "larger" ? 1 : damage == "smaller" ? -1 : 0;
    if (damage == "index")
        std::swap(facts.blockStarts[1], facts.blockStarts[2]);
    const QString path = m_dir.filePath("entry.rar");
    writeFile(path, QByteArray(30, 'L') + (damage == "short file" ? bytes.left(bytes.size() - 10) : bytes + "central directory"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));

    QByteArray out;
    int refusals = 0;
    const auto sink = [&](const char *data, qint64 size, QString &why) {
        if (damage == "sink" && !out.isEmpty()) {
            ++refusals;
            why = "disk full";
            return false;
        }
        out.append(data, int(size));
        return true;
    };
    EntryInflater inflater(workers);
    QCOMPARE(inflater.inflate(file, facts, sink), failure == Failure::None);
    QCOMPARE(inflater.failure(), failure);
    QVERIFY2(inflater.errorString().contains(reason), qPrintable(inflater.errorString()));
    if (failure == Failure::None)
        QVERIFY(out == deflated.source);
    else
        QCOMPARE(refusals, int(damage == "sink"));
    // Verifying alone comes to the same.
    if (damage != "sink") {
        QCOMPARE(inflater.inflate(file, facts), failure == Failure::None);
        QCOMPARE(inflater.failure(), failure);
    }
}

QTEST_MAIN(EntryInflaterTest)
#include "entryinflatertest.moc"
