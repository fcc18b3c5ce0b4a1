#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include "stylesheet.h"
#include "testfiles.h"

namespace {

const QString chineseSheet = QStringLiteral(
    "/* 默认皮肤 */\nQGroupBox { font-family: \"微软雅黑\"; }\n");

} // namespace

class StyleSheetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void content_data();
    void content();
    void utf8FileComesOutGarbled();
    void directoryGivesEmpty();
    void relativePathFollowsWorkingDirectory();

private:
    QTemporaryDir m_dir;
};

void StyleSheetTest::initTestCase()
{
    QVERIFY(QTextCodec::codecForName("GBK"));
    QVERIFY(m_dir.isValid());
}

void StyleSheetTest::content_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing file") << false << QByteArray() << QString();
    QTest::newRow("empty file") << true << QByteArray() << QString();
    QTest::newRow("ASCII") << true << QByteArray("QWidget { color: red; }")
                           << QStringLiteral("QWidget { color: red; }");
    QTest::newRow("GBK Chinese") << true << gbk(chineseSheet) << chineseSheet;
    QTest::newRow("CRLF") << true << QByteArray("a { }\r\nb { }\r\n")
                          << QStringLiteral("a { }\nb { }\n");
    QTest::newRow("GBK Chinese with CRLF")
        << true << gbk(QString(chineseSheet).replace('\n', QStringLiteral("\r\n"))) << chineseSheet;
}

void StyleSheetTest::content()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".css");
    if (present)
        writeFile(path, bytes);

    const QString sheet = loadStyleSheet(path);
    QCOMPARE(sheet, expected);
}

void StyleSheetTest::utf8FileComesOutGarbled()
{
    const QString path = m_dir.filePath(QStringLiteral("utf8.css"));
    writeFile(path, chineseSheet.toUtf8());

    const QString sheet = loadStyleSheet(path);
    QVERIFY(!sheet.isEmpty());
    QVERIFY(sheet != chineseSheet);
    QVERIFY(sheet.startsWith(QStringLiteral("/* ")));
}

void StyleSheetTest::directoryGivesEmpty()
{
    const QString path = m_dir.filePath(QStringLiteral("skin-dir.css"));
    QVERIFY(QDir().mkpath(path));
    QVERIFY(loadStyleSheet(path).isEmpty());
}

// "skin.css" beside some other directory is not read: only the working
// directory counts.
void StyleSheetTest::relativePathFollowsWorkingDirectory()
{
    QTemporaryDir withSkin;
    QTemporaryDir withoutSkin;
    writeFile(withSkin.filePath(QStringLiteral("skin.css")), gbk(chineseSheet));
    const QString previous = QDir::currentPath();

    QVERIFY(QDir::setCurrent(withoutSkin.path()));
    const QString elsewhere = loadStyleSheet(QStringLiteral("skin.css"));
    QVERIFY(QDir::setCurrent(withSkin.path()));
    const QString here = loadStyleSheet(QStringLiteral("skin.css"));
    QDir::setCurrent(previous);

    QVERIFY(elsewhere.isEmpty());
    QCOMPARE(here, chineseSheet);
}

QTEST_GUILESS_MAIN(StyleSheetTest)
#include "stylesheettest.moc"
