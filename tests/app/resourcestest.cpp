#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QResource>
#include <QtTest>

class ResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void imageLoads_data();
    void imageLoads();
    void storedUncompressed_data();
    void storedUncompressed();
    void directoryHoldsExactlyTheFiveImages();
    void wrongCaseFindsNothing_data();
    void wrongCaseFindsNothing();
};

namespace {

const QString imageDir = QStringLiteral(":/Vesper/Resources/");

void addImageRows()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("background") << imageDir + "background.jpg" << QSize(1920, 1050) << QByteArray("jpeg");
    QTest::newRow("title") << imageDir + "title.jpg" << QSize(1920, 36) << QByteArray("jpeg");
    QTest::newRow("start") << imageDir + "start.png" << QSize(32, 32) << QByteArray("png");
    QTest::newRow("stop") << imageDir + "stop.png" << QSize(32, 32) << QByteArray("png");
    QTest::newRow("winrar") << imageDir + "winrar.png" << QSize(32, 32) << QByteArray("png");
    QTest::newRow("window icon") << QStringLiteral(":/icons/halcyon.png") << QSize(256, 256) << QByteArray("png");
}

} // namespace

void ResourcesTest::imageLoads_data()
{
    addImageRows();
}

void ResourcesTest::imageLoads()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QByteArray, format);
    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    // The icons are drawn over transparent corners; the photos have no alpha.
    QCOMPARE(image.hasAlphaChannel(), format == "png");
}

void ResourcesTest::storedUncompressed_data()
{
    addImageRows();
}

void ResourcesTest::storedUncompressed()
{
    QFETCH(QString, path);
    const QResource resource(path);
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    QVERIFY(resource.lastModified().isValid());
}

void ResourcesTest::directoryHoldsExactlyTheFiveImages()
{
    QCOMPARE(QDir(QStringLiteral(":/Vesper")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Resources")});
    const QStringList expected{"background.jpg", "start.png", "stop.png", "title.jpg", "winrar.png"};
    QCOMPARE(QDir(imageDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), expected);
}

void ResourcesTest::wrongCaseFindsNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("directory") << QStringLiteral(":/Vesper/resources/start.png");
    QTest::newRow("prefix") << QStringLiteral(":/vesper/Resources/start.png");
    QTest::newRow("file name") << QStringLiteral(":/Vesper/Resources/Start.png");
    QTest::newRow("suffix") << QStringLiteral(":/Vesper/Resources/title.JPG");
    QTest::newRow("without prefix") << QStringLiteral(":/Resources/start.png");
}

void ResourcesTest::wrongCaseFindsNothing()
{
    QFETCH(QString, path);
    QVERIFY(!QFile::exists(path));
    QVERIFY(QImage(path).isNull());
}

QTEST_GUILESS_MAIN(ResourcesTest)
#include "resourcestest.moc"
