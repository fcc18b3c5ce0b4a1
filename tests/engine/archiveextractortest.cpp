#include "archiveextractor.h"
#include "archivewriter.h"
#include "filetime.h"
#include "testfiles.h"

#include <quazip.h>
#include <quazipfile.h>

#include <QtTest>

class ArchiveExtractorTest : public QObject
{
    Q_OBJECT

private slots:
    void safeName_data();
    void safeName();
    void extract_data();
    void extract();
};

void ArchiveExtractorTest::safeName_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("name"); // empty: refused
    QTest::newRow("a bare name") << "Nightly.BAK" << "Nightly.BAK";
    QTest::newRow("another writer's folder") << "db/Nightly.bak" << "Nightly.bak";
    QTest::newRow("up and out") << "../x" << "";
    QTest::newRow("up, Windows-style") << "db\\..\\..\\x" << "";
    QTest::newRow("absolute") << "/etc/cron.d/x" << "";
    QTest::newRow("a drive letter") << "C:x.bak" << "";
    QTest::newRow("a directory") << "db/" << "";
}

void ArchiveExtractorTest::safeName()
{
    QFETCH(QString, entry);
    QFETCH(QString, name);
    QString reason;
    QCOMPARE(ArchiveExtractor::safeName(entry, &reason), name);
    QCOMPARE(reason.isEmpty(), !name.isEmpty());
}

void ArchiveExtractorTest::extract_data()
{
    QTest::addColumn<QString>("archive"); // how it was made, or what became of it
    QTest::addColumn<bool>("extracted");
    QTest::newRow("this program's, several blocks") << "ours" << true;
    QTest::newRow("another writer's, one stream") << "QuaZip" << true;
    QTest::newRow("over a file that stands there") << "existing" << false;
    QTest::newRow("damaged") << "flipped" << false;
}

void ArchiveExtractorTest::extract()
{
    QFETCH(QString, archive);
    QFETCH(bool, extracted);
    QTemporaryDir dir;
    const QString source = dir.filePath("Nightly.bak"), zip = dir.filePath("Nightly.rar"), into = dir.filePath("into");
    const QByteArray backup = patterned(9 << 20);
    writeFile(source, backup);
    QVERIFY(QDir().mkpath(into));
    if (archive == "QuaZip") {
        QuaZip writer(zip);
        QVERIFY(writer.open(QuaZip::mdCreate));
        QuaZipFile entry(&writer);
        QVERIFY(entry.open(QIODevice::WriteOnly, QuaZipNewInfo("Nightly.bak", source)));
        QVERIFY(entry.write(backup) == backup.size());
        entry.close();
        writer.close();
    } else {
        QVERIFY(ArchiveWriter(2, [] { return false; }).write(source, zip, [](qint64, qint64) {}));
    }
    if (archive == "flipped") {
        QByteArray bytes = readFile(zip);
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x10);
        writeFile(zip, bytes);
    }
    if (archive == "existing")
        writeFile(into + "/Nightly.bak", "mine");

    ArchiveExtractor extractor;
    QCOMPARE(extractor.extract(zip, into), extracted);
    QCOMPARE(extractor.errorString().isEmpty(), extracted);
    const QStringList left = QDir(into).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left, archive == "flipped" ? QStringList() : QStringList{"Nightly.bak"});
    if (archive == "existing")
        QCOMPARE(readFile(into + "/Nightly.bak"), QByteArray("mine"));
    if (!extracted)
        return;
    QVERIFY(readFile(into + "/Nightly.bak") == backup);
    // To 100 ns where the archive records it, else to the DOS time's 2 s.
    const qint64 error = qAbs(FileTime::exactModification(into + "/Nightly.bak") - FileTime::exactModification(source));
    QVERIFY2(error <= (archive == "ours" ? 0 : 20000000), qPrintable(QString::number(error)));
}

QTEST_GUILESS_MAIN(ArchiveExtractorTest)
#include "archiveextractortest.moc"
