#include "archivecheck.h"
#include "archivereader.h"
#include "archivewriter.h"
#include "testfiles.h"

#include <JlCompress.h>

#include <QtTest>

#include <zlib.h>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace {

constexpr qint64 kTicks = 10000000; // per second
constexpr qint64 kUnixEpoch = 11644473600LL * kTicks;
// 2021-03-07 09:05:08.1234567 UTC, in 100 ns since 1601 as NTFS counts.
constexpr qint64 kSourceTime = kUnixEpoch + 1615107908LL * kTicks + 1234567;
// The local header takes 30 bytes, the name 11; the NTFS field follows, its time 12 bytes in.
constexpr int kNtfsFieldAt = 30 + 11;
constexpr int kLocalTimeAt = kNtfsFieldAt + 12;
// The central header follows the data and the 16-byte descriptor; the end record ends the file.
constexpr int kCentralSize = 46;
constexpr int kEndSize = 22;
constexpr int kBlock = 4 << 20;

quint16 u16(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

int centralAt(const QByteArray &bytes)
{
    return int(qFromLittleEndian<quint32>(bytes.constData() + bytes.size() - kEndSize + 16));
}

void setU16(QByteArray &bytes, int at, quint16 value)
{
    qToLittleEndian<quint16>(value, bytes.data() + at);
}

// A field both headers have, set in both: the local header's offset, the central's 2 further.
void setInBoth(QByteArray &bytes, int localAt, quint16 value, quint16 orValue = 0)
{
    const int central = centralAt(bytes) + localAt + 2;
    setU16(bytes, localAt, orValue ? u16(bytes, localAt) | orValue : value);
    setU16(bytes, central, orValue ? u16(bytes, central) | orValue : value);
}

// Bytes after the central header's extra field: another block of it (sizeAt 30) or a comment (32).
void addToCentral(QByteArray &bytes, int sizeAt, const QByteArray &added)
{
    const int central = centralAt(bytes);
    const int extraEnd = central + kCentralSize + u16(bytes, central + 28) + u16(bytes, central + 30);
    bytes.insert(extraEnd, added);
    setU16(bytes, central + sizeAt, u16(bytes, central + sizeAt) + added.size());
    const int end = bytes.size() - kEndSize;
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(bytes.constData() + end + 12) + added.size(),
                             bytes.data() + end + 12);
}

// The block index field in the central header, after the name and the NTFS field.
int indexAt(const QByteArray &bytes)
{
    return centralAt(bytes) + kCentralSize + 11 + 36;
}

// What raw inflate makes of bytes, at most limit bytes.
QByteArray inflated(const QByteArray &bytes, int limit)
{
    QByteArray out(limit, '\0');
    z_stream stream{};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(limit);
    inflateInit2(&stream, -MAX_WBITS);
    inflate(&stream, Z_FINISH);
    out.truncate(int(stream.total_out));
    inflateEnd(&stream);
    return out;
}

// What the writer's headers hold, apart from the data: [begin, end) ranges.
QVector<QPair<int, int>> headerRanges(const QByteArray &bytes)
{
    const int dataAt = 30 + u16(bytes, 26) + u16(bytes, 28);
    return {{0, dataAt}, {centralAt(bytes) - 16, bytes.size()}};
}

// To the 100 ns, which no Qt call can set.
bool setExactTime(const QString &path, qint64 time)
{
#ifdef Q_OS_WIN
    const HANDLE file = CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    const FILETIME written{DWORD(time), DWORD(quint64(time) >> 32)};
    const bool set = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &written);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return set;
#else
    const qint64 sinceEpoch = time - kUnixEpoch;
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(sinceEpoch / kTicks), long(sinceEpoch % kTicks) * 100}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
#endif
}

} // namespace

class ArchiveCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void holds_data();
    void holds();
    void damagedHeadersAreNeverWhole();
};

void ArchiveCheckTest::holds_data()
{
    QTest::addColumn<QString>("change"); // made to the source or the archive once it is written
    QTest::addColumn<bool>("whole");
    QTest::addColumn<bool>("holds");

    QTest::newRow("unchanged") << "" << true << true;
    QTest::newRow("source a byte longer, same time") << "longer" << true << false;
    QTest::newRow("source 1 s later") << "1 s" << true << false;
    QTest::newRow("source 100 ns later") << "100 ns" << true << false;
    QTest::newRow("another source, same bytes and time") << "other name" << true << false;
    QTest::newRow("older archive without the exact time") << "older" << false << false;
    QTest::newRow("archive a byte short") << "truncated" << false << false;
    QTest::newRow("archive with a byte appended") << "appended" << false << false;
    QTest::newRow("local header's exact time differs") << "local time" << false << false;
#ifdef Q_OS_UNIX
    // Another account's, perhaps: the archive replaces it.
    QTest::newRow("a link to the archive") << "link" << false << false;
#endif
    QTest::newRow("no archive") << "removed" << false << false;
    // Headers the writer never writes, however well both agree.
    QTest::newRow("encrypted, in both headers") << "encrypted" << false << false;
    QTest::newRow("another flag, in both headers") << "flag" << false << false;
    QTest::newRow("version needed 0xFFFF, in both headers") << "version" << false << false;
    QTest::newRow("NTFS field's reserved bytes set") << "ntfs reserved" << false << false;
    QTest::newRow("another kind of extra field") << "extra" << false << false;
    QTest::newRow("an entry comment") << "comment" << false << false;
    QTest::newRow("an archive comment") << "archive comment" << false << false;
    QTest::newRow("block index of another stride") << "stride" << false << false;
    QTest::newRow("3 blocks") << "blocks" << true << true;
    QTest::newRow("3 blocks, an offset out of order") << "blocks, out of order" << false << false;
    // Read as any writer's, what this program alone never writes is whole; what none of its
    // readers reads is not, and the reason says what it is.
    QTest::newRow("older archive, as any writer's") << "older, any writer" << true << false;
    QTest::newRow("an entry comment, as any writer's") << "entry comment, any writer" << true << true;
    QTest::newRow("an archive comment, as any writer's") << "archive comment, any writer" << true << true;
    QTest::newRow("another kind of extra field, as any writer's") << "extra, any writer" << true << true;
    QTest::newRow("block index of another stride, as any writer's") << "stride, any writer" << true << true;
    QTest::newRow("encrypted, as any writer's") << "encrypted, any writer" << false << false;
    QTest::newRow("method 12, as any writer's") << "method 12, any writer" << false << false;
    QTest::newRow("two entries, as any writer's") << "more than one entry, any writer" << false << false;
}

void ArchiveCheckTest::holds()
{
    QFETCH(QString, change);
    QFETCH(bool, whole);
    QFETCH(bool, holds);
    const bool anyWriter = change.endsWith(", any writer");
    change.remove(", any writer");
    QTemporaryDir dir;
    const QString source = dir.filePath("Nightly.BAK");
    const QString archive = dir.filePath("Nightly.rar");
    const QByteArray content = patterned(change.startsWith("blocks") ? 3 * kBlock - 1000 : 70000);
    writeFile(source, content);
    QVERIFY(setExactTime(source, kSourceTime));
    // An older archive, as they were before they recorded the exact time, and one of two
    // entries: through QuaZipFile alone.
    if (change == "older")
        QVERIFY(JlCompress::compressFile(archive, source));
    else if (change == "more than one entry")
        QVERIFY(JlCompress::compressFiles(archive, {source, source}));
    else
        QVERIFY(ArchiveWriter(0, [] { return false; }).write(source, archive, [](qint64, qint64) {}));

    if (change == "longer")
        QVERIFY(QFile::resize(source, 70001));
    QVERIFY(setExactTime(source, kSourceTime + (change == "1 s" ? kTicks : change == "100 ns" ? 1 : 0)));
    const QString checked = change == "other name" ? dir.filePath("Weekly.BAK") : source;
    if (checked != source)
        QVERIFY(QFile::copy(source, checked) && setExactTime(checked, kSourceTime));
    if (change == "truncated" || change == "appended")
        QVERIFY(QFile::resize(archive, QFileInfo(archive).size() + (change == "appended" ? 1 : -1)));
    QByteArray bytes = readFile(archive);
    if (change == "local time")
        bytes[kLocalTimeAt] = char(~bytes[kLocalTimeAt]);
    if (change == "encrypted" || change == "flag")
        setInBoth(bytes, 6, 0, change == "encrypted" ? 0x0001 : 0x0002);
    if (change == "version")
        setInBoth(bytes, 4, 0xFFFF);
    if (change == "method 12")
        setInBoth(bytes, 8, 12);
    if (change == "stride")
        bytes[indexAt(bytes) + 6] = 2;
    if (change == "blocks, out of order") // the second offset equal to the first
        bytes.replace(indexAt(bytes) + 18, 8, bytes.mid(indexAt(bytes) + 10, 8));
    if (change == "ntfs reserved")
        for (int at : {kNtfsFieldAt + 4, centralAt(bytes) + kCentralSize + 11 + 4})
            bytes[at] = 1;
    if (change == "extra" || change == "entry comment")
        addToCentral(bytes, change == "extra" ? 30 : 32, change == "extra" ? QByteArray::fromHex("55540000") : "note");
    if (change == "comment") { // a byte of the central header's extra field becomes its comment
        const int central = centralAt(bytes);
        setU16(bytes, central + 30, u16(bytes, central + 30) - 1);
        setU16(bytes, central + 32, 1);
    }
    if (change == "archive comment") {
        bytes.append("note");
        setU16(bytes, bytes.size() - 6, 4);
    }
    if (change != "truncated" && change != "appended" && change != "removed")
        writeFile(archive, bytes);
    if (change == "removed")
        QVERIFY(QFile::remove(archive));
    if (change == "link")
        QVERIFY(QFile::rename(archive, archive + ".elsewhere") && QFile::link(archive + ".elsewhere", archive));

    const ArchiveCheck check(archive, anyWriter ? ArchiveCheck::Strictness::AnyWriter
                                                : ArchiveCheck::Strictness::ThisProgram);
    QVERIFY2(check.isWhole() == whole, qPrintable(check.errorString()));
    QCOMPARE(check.holds(checked), holds);
    QVERIFY2(!anyWriter || whole || check.errorString().contains(change), qPrintable(check.errorString()));
    if (!whole)
        return;
    const ArchiveCheck::Entry &entry = check.entry();
    QCOMPARE(entry.name, QString("Nightly.BAK"));
    QCOMPARE(entry.size, quint64(content.size()));
    QCOMPARE(entry.modified, change == "older" ? -1 : kSourceTime);
    // The data where the headers say, and each block listed inflating on its own from its start.
    QCOMPARE(inflated(bytes.mid(int(entry.dataOffset), int(entry.compressedSize)), content.size() + 1), content);
    QCOMPARE(entry.crc, crcOf(content));
    QCOMPARE(entry.blockStride, quint32(change == "older" || change == "stride" ? 0 : 1));
    QCOMPARE(entry.blockStarts.size(), content.size() / kBlock);
    for (int i = 0; i < entry.blockStarts.size(); ++i)
        QCOMPARE(inflated(bytes.mid(int(entry.dataOffset + entry.blockStarts[i])), kBlock),
                 content.mid((i + 1) * kBlock, kBlock));
}

// Seeded mutations of the headers of real archives: the check never reads outside what it
// read (the sanitizer build watches), and never calls a damaged header whole. The entry's
// external attributes (the file mode) are the one field it leaves to the writer; the DOS time
// only has to agree between the two headers.
void ArchiveCheckTest::damagedHeadersAreNeverWhole()
{
    QTemporaryDir dir;
    QRandomGenerator random(20261210);
    int mutations = 0;
    for (const QString &name : {QString("Nightly.BAK"), QString("备份.bak"), QString("empty.bak")}) {
        const QString source = dir.filePath(name), archive = dir.filePath("a.rar");
        writeFile(source, name == "empty.bak" ? QByteArray() : patterned(5000));
        QVERIFY(ArchiveWriter(0, [] { return false; }).write(source, archive, [](qint64, qint64) {}));
        const QByteArray original = readFile(archive);
        QVERIFY(ArchiveCheck(archive).holds(source));
        const QVector<QPair<int, int>> ranges = headerRanges(original);
        const int central = centralAt(original);
        const int nameAndExtra = u16(original, 26) + u16(original, 28);
        for (int i = 0; i < 1200; ++i, ++mutations) {
            QByteArray bytes = original;
            const int kind = random.bounded(8);
            if (kind == 0) { // cut short, or longer
                const QPair<int, int> range = ranges[random.bounded(2)];
                bytes.resize(range.first + random.bounded(range.second - range.first + 64));
            } else if (kind < 3) { // the same in both headers: a local field other than the time, or the name and extra
                int at = 4 + random.bounded(26 + nameAndExtra);
                if (at >= 10 && at < 14)
                    at += 4;
                const char value = char(random.bounded(256));
                bytes[at] = value;
                bytes[central + at + (at < 30 ? 2 : 16)] = value;
            } else {
                for (int count = 1 + random.bounded(4); count > 0; --count) {
                    const QPair<int, int> range = ranges[random.bounded(2)];
                    const int at = range.first + random.bounded(range.second - range.first);
                    if (at < central + 38 || at >= central + 42)
                        bytes[at] = char(random.bounded(256));
                }
            }
            if (bytes == original)
                continue;
            writeFile(archive, bytes);
            // Read as any writer's too, under the same watch: whole wherever the strict reading is.
            QVERIFY(ArchiveCheck(archive, ArchiveCheck::Strictness::AnyWriter).isWhole()
                    || !ArchiveCheck(archive).isWhole());
            QVERIFY2(!ArchiveCheck(archive).holds(source),
                     qPrintable(QString("%1, mutation %2: %3").arg(name).arg(i).arg(QString(bytes.toHex()))));
        }
    }
    QVERIFY(mutations >= 3000);
}

QTEST_GUILESS_MAIN(ArchiveCheckTest)
#include "archivechecktest.moc"
