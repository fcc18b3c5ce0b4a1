#include "archivewriter.h"
#include "filetime.h"
#include "testfiles.h"
#include "verifyjob.h"

#include <QtEndian>
#include <QtTest>

// Each archive proven from the disk; a damaged one written anew only from its very backup.
class VerifyJobTest : public QObject
{
    Q_OBJECT

private slots:
    void damage_data();
    void damage();
};

void VerifyJobTest::damage_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("backup"); // what became of it since
    QTest::addColumn<bool>("whole");
    QTest::addColumn<bool>("repaired");

    QTest::newRow("whole") << "" << "" << true << false;
    QTest::newRow("a byte flipped, its backup stands") << "flip" << "" << false << true;
    QTest::newRow("a byte flipped, its backup gone") << "flip" << "removed" << false << false;
    QTest::newRow("a byte flipped, its backup newer") << "flip" << "touched" << false << false;
    QTest::newRow("a byte flipped, no source given") << "flip" << "no source" << false << false;
    QTest::newRow("the CRC changed, its backup stands") << "crc" << "" << false << true;
    QTest::newRow("truncated: no headers to match") << "truncate" << "" << false << false;
}

void VerifyJobTest::damage()
{
    QFETCH(QString, damage);
    QFETCH(QString, backup);
    QFETCH(bool, whole);
    QFETCH(bool, repaired);
    QTemporaryDir dir;
    const QString source = dir.filePath("src/sub/Nightly.bak"), archive = dir.filePath("out/Nightly.rar");
    writeFile(source, patterned(9 << 20)); // three blocks
    QVERIFY(QDir().mkpath(dir.filePath("out")));
    QVERIFY(ArchiveWriter(2, [] { return false; }).write(source, archive, [](qint64, qint64) {}));
    QByteArray bytes = readFile(archive);
    const int central = int(qFromLittleEndian<quint32>(bytes.constData() + bytes.size() - 22 + 16));
    if (damage == "flip")
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x10);
    if (damage == "crc") // in the central header and the descriptor before it, alike
        for (int at : {central + 16, central - 12})
            bytes[at] = char(bytes[at] ^ 1);
    if (damage == "truncate")
        bytes.chop(100);
    writeFile(archive, bytes);
    if (backup == "removed")
        QVERIFY(QFile::remove(source));
    if (backup == "touched") {
        QFile file(source);
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
    }

    QList<VerifyJob::Outcome> outcomes;
    VerifyJob job(dir.filePath("out"), backup == "no source" ? QString() : dir.filePath("src"), ".bak",
                  [&](const VerifyJob::Outcome &outcome) { outcomes << outcome; });
    const VerifyJob::Report report = job.run();
    QCOMPARE(outcomes.size(), 1);
    QCOMPARE(outcomes[0].whole, whole);
    QCOMPARE(outcomes[0].repaired, repaired);
    QCOMPARE(outcomes[0].reason.isEmpty(), whole);
    QCOMPARE(report.damaged, whole ? 0 : 1);
    // Written anew, it is whole; left alone, not a byte of it changed.
    if (repaired)
        QCOMPARE(job.run().whole, 1);
    else
        QCOMPARE(readFile(archive), bytes);
}

QTEST_GUILESS_MAIN(VerifyJobTest)
#include "verifyjobtest.moc"
