#include "archivecheck.h"
#include "archivewriter.h"
#include "testfiles.h"

#include <JlCompress.h>

#include <QtTest>

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
    QTest::newRow("no archive") << "removed" << false << false;
}

void ArchiveCheckTest::holds()
{
    QFETCH(QString, change);
    QFETCH(bool, whole);
    QFETCH(bool, holds);
    QTemporaryDir dir;
    const QString source = dir.filePath("Nightly.BAK");
    const QString archive = dir.filePath("Nightly.rar");
    writeFile(source, patterned(70000));
    QVERIFY(setExactTime(source, kSourceTime));
    // An older archive, as they were before they recorded the exact time: through QuaZipFile alone.
    QVERIFY(change == "older" ? JlCompress::compressFile(archive, source)
                              : ArchiveWriter(0, [] { return false; }).write(source, archive, [](qint64, qint64) {}));

    if (change == "longer")
        QVERIFY(QFile::resize(source, 70001));
    QVERIFY(setExactTime(source, kSourceTime + (change == "1 s" ? kTicks : change == "100 ns" ? 1 : 0)));
    const QString checked = change == "other name" ? dir.filePath("Weekly.BAK") : source;
    if (checked != source)
        QVERIFY(QFile::copy(source, checked) && setExactTime(checked, kSourceTime));
    if (change == "truncated" || change == "appended")
        QVERIFY(QFile::resize(archive, QFileInfo(archive).size() + (change == "appended" ? 1 : -1)));
    QByteArray bytes = readFile(archive);
    if (change == "local time") {
        bytes[kLocalTimeAt] = char(~bytes[kLocalTimeAt]);
        writeFile(archive, bytes);
    }
    if (change == "removed")
        QVERIFY(QFile::remove(archive));

    const ArchiveCheck check(archive);
    QVERIFY2(check.isWhole() == whole, qPrintable(check.errorString()));
    QCOMPARE(check.holds(checked), holds);
    if (!whole)
        return;
    QCOMPARE(check.entry().name, QString("Nightly.BAK"));
    QCOMPARE(check.entry().size, quint64(70000));
    QCOMPARE(check.entry().modified, kSourceTime);
    if (change.isEmpty()) { // the field as other readers take the time from it
        QCOMPARE(bytes.mid(kNtfsFieldAt, 12).toHex(), QByteArray("0a0020000000000001001800"));
        QCOMPARE(qFromLittleEndian<qint64>(bytes.constData() + kNtfsFieldAt + 12), kSourceTime);
    }
}

QTEST_GUILESS_MAIN(ArchiveCheckTest)
#include "archivechecktest.moc"
