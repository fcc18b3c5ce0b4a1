#include "pathfile.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

class PathFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readSafely_data();
    void readSafely();

private:
    QScopedPointer<QTemporaryDir> m_dir;
};

void PathFileTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void PathFileTest::readSafely_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");

    QTest::newRow("line end") << "file" << QByteArray("/data/src\n") << "/data/src";
    QTest::newRow("Windows line ends") << "file" << QByteArray("/data/src\r\n\r\n") << "/data/src";
    QTest::newRow("blanks are kept") << "file" << QByteArray(" /data/src \n") << " /data/src ";
    QTest::newRow("over 64 KiB") << "file" << QByteArray(64 * 1024 + 1, 'a') << "";
#ifdef Q_OS_UNIX
    QTest::newRow("link to an endless device") << "zero" << QByteArray() << "";
    QTest::newRow("FIFO") << "fifo" << QByteArray() << "";
#endif
}

void PathFileTest::readSafely()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    if (kind == "file")
        writeFile("filepath.ini", bytes);
    if (kind == "zero")
        QVERIFY(QFile::link("/dev/zero", "filepath.ini"));
#ifdef Q_OS_UNIX
    if (kind == "fifo")
        QVERIFY(::mkfifo("filepath.ini", 0600) == 0);
#endif
    QString path;
    PathFile::read("filepath.ini", &path);
    QCOMPARE(path, shown);
}

QTEST_GUILESS_MAIN(PathFileTest)
#include "pathfiletest.moc"
