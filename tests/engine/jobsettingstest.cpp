#include "jobsettings.h"

#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

class JobSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void noRegularFileIsRead();
};

void JobSettingsTest::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("volume");
    QTest::addColumn<qint64>("reserve");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("problems");

    const qint64 G = qint64(1) << 30, T = qint64(1) << 40;
    QTest::newRow("nothing set: 5 % of the volume") << QByteArray() << 100 * G << 5 * G << 0 << 0;
    QTest::newRow("nothing set: at most 10 GiB") << QByteArray() << T << 10 * G << 0 << 0;
    QTest::newRow("a percentage set is not capped") << QByteArray("[output]\nreserve=5%\n") << T << T / 20 << 0 << 0;
    QTest::newRow("case, blanks and CRLF") << QByteArray("[Output]\r\n Reserve = 500M \r\n") << T << (qint64(500) << 20) << 0 << 0;
    QTest::newRow("Notepad's BOM, both keys") << QByteArray("\xEF\xBB\xBF[output]\nreserve=20G\n[job]\nthreads=3\n") << T
                                              << 20 * G << 3 << 0;
    QTest::newRow("comments, a fraction") << QByteArray("; ours\n# too\n[output]\nreserve=1.5G\n") << T << 3 * G / 2 << 0 << 0;
    QTest::newRow("0 turns it off") << QByteArray("[output]\nreserve=0\n") << T << qint64(0) << 0 << 0;
    QTest::newRow("bad values and keys fall back") << QByteArray("[output]\nreserve=lots\n[job]\nthreads=0\ncolour=blue\nnonsense\n")
                                                   << 100 * G << 5 * G << 0 << 4;
    QTest::newRow("all of the volume") << QByteArray("[output]\nreserve=100%\n") << 100 * G << 5 * G << 0 << 1;
    QTest::newRow("outside its section") << QByteArray("reserve=1G\nthreads=2\n") << 100 * G << 5 * G << 0 << 2;
}

void JobSettingsTest::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, volume);
    QFETCH(qint64, reserve);
    QFETCH(int, threads);
    QFETCH(int, problems);

    QStringList found;
    const JobSettings settings = JobSettings::parse(text, &found);
    QCOMPARE(settings.reserve.bytesOn(volume), reserve);
    QCOMPARE(settings.threads, threads);
    QCOMPARE(found.size(), problems);
}

// A FIFO at the name would hold the job for good.
void JobSettingsTest::noRegularFileIsRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(JobSettings::kFileName);
#ifdef Q_OS_UNIX
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
#else
    QVERIFY(QDir().mkdir(path));
#endif
    const JobSettings settings = JobSettings::read(path);
    QCOMPARE(settings.reserve.kind, JobSettings::Reserve::Kind::Default);
}

QTEST_GUILESS_MAIN(JobSettingsTest)
#include "jobsettingstest.moc"
