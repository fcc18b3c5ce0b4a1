#include "zipentryreader.h"
#include "zipentrywriter.h"

#include <quazip.h>
#include <quazipfileinfo.h>
#include <quazipnewinfo.h>

#include <QtTest>

namespace {

// 2021-03-07 09:05:08.1234567 UTC, in 100 ns since 1601 as NTFS counts.
constexpr qint64 kSourceTime = 132595815081234567LL;
// The local header takes 30 bytes, the name 11; the NTFS field follows (36 bytes), its time 12 bytes in.
constexpr int kNtfsFieldAt = 30 + 11;
constexpr qint64 kBlock = 4 << 20;

} // namespace

class ZipEntryWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void readBack_data();
    void readBack();
};

void ZipEntryWriterTest::readBack_data()
{
    QTest::addColumn<qint64>("time");
    QTest::addColumn<bool>("zip64");
    QTest::addColumn<qint64>("size"); // indexed, in blocks of an empty stream's 2 bytes; -1: no index
    QTest::addColumn<quint32>("stride");
    QTest::addColumn<int>("listed");
    QTest::newRow("exact time") << kSourceTime << false << qint64(0) << 1u << 0;
    QTest::newRow("exact time, ZIP64 fields") << kSourceTime << true << qint64(0) << 1u << 0;
    QTest::newRow("no exact time, ZIP64 fields") << qint64(-1) << true << qint64(0) << 1u << 0;
    QTest::newRow("no block index, as older archives") << kSourceTime << false << qint64(-1) << 0u << 0;
    QTest::newRow("3 blocks, 2 listed") << kSourceTime << false << 3 * kBlock - 1 << 1u << 2;
    QTest::newRow("1025 blocks, every second listed") << kSourceTime << true << 1025 * kBlock << 2u << 512;
    QTest::newRow("1026 blocks, every third listed") << qint64(-1) << true << 1026 * kBlock << 3u << 341;
}

// An entry of empty Deflate streams, one a block, read back by ZipEntryReader and by QuaZip.
void ZipEntryWriterTest::readBack()
{
    QFETCH(qint64, time);
    QFETCH(bool, zip64);
    QFETCH(qint64, size);
    QFETCH(quint32, stride);
    QFETCH(int, listed);
    QTemporaryDir dir;
    QFile file(dir.filePath("a.rar"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QuaZip zip(&file);
    zip.setAutoClose(false);
    QVERIFY(zip.open(QuaZip::mdCreate));
    ZipEntryWriter entry(zip, file);
    QVERIFY(entry.open(QuaZipNewInfo("Nightly.BAK"), "Nightly.BAK", time, zip64, size));
    for (qint64 block = 0; block == 0 || block * kBlock < size; ++block)
        QVERIFY(entry.write(QByteArray::fromHex("0300"))); // an empty raw Deflate stream
    QVERIFY(entry.close(std::max<qint64>(size, 0), 0));
    zip.close();
    QVERIFY(entry.fillBlockIndex());
    file.close();

    QVERIFY(file.open(QIODevice::ReadOnly));
    const ZipEntryReader reader(file);
    QVERIFY2(reader.isWhole(), qPrintable(reader.errorString()));
    QCOMPARE(reader.entry().modified, time);
    QCOMPARE(reader.entry().blockStride, stride);
    QCOMPARE(reader.entry().blockStarts.size(), listed);
    for (int i = 0; i < listed; ++i)
        QCOMPARE(reader.entry().blockStarts[i], quint64(2 * stride * (i + 1)));
    QVERIFY(file.seek(0));
    const QByteArray bytes = file.readAll();
    if (zip64 && size == 0) // after the name and the NTFS field: the sizes, 0 and the stream's 2 bytes
        QCOMPARE(bytes.mid(kNtfsFieldAt + (time < 0 ? 0 : 36), 20).toHex(),
                 QByteArray("0100100000000000000000000200000000000000"));
    if (time < 0)
        return;
    // the field as other readers take the time from it
    QCOMPARE(bytes.mid(kNtfsFieldAt, 12).toHex(), QByteArray("0a0020000000000001001800"));
    QCOMPARE(qFromLittleEndian<qint64>(bytes.constData() + kNtfsFieldAt + 12), kSourceTime);
    QuaZip unzip(file.fileName());
    QuaZipFileInfo64 info;
    QVERIFY(unzip.open(QuaZip::mdUnzip) && unzip.goToFirstFile() && unzip.getCurrentFileInfo(&info));
    int fineTicks = 0;
    QCOMPARE(info.getNTFSmTime(&fineTicks), QDateTime(QDate(2021, 3, 7), QTime(9, 5, 8, 123), Qt::UTC));
    QCOMPARE(fineTicks, 4567);
}

QTEST_GUILESS_MAIN(ZipEntryWriterTest)
#include "zipentrywritertest.moc"
