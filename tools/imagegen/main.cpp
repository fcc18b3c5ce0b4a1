// Draws the program's own pictures: the five embedded images, the program icon in
// every size the desktop and the Windows icon need.
//
// Run tools/imagegen/generate.sh from anywhere; it builds this program, runs it on the
// repository and packs the Windows .ico from the frames with ImageMagick.
// The output is the same on every run (fixed seeds, the font file named below).
#include "pictures.h"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageWriter>

#include <cstdio>

namespace {

const char *const cjkFontFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

bool save(const QImage &image, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImageWriter writer(path);
    if (path.endsWith(QLatin1String(".jpg"))) {
        writer.setQuality(90);
        writer.setProgressiveScanWrite(false);
        writer.setOptimizedWrite(false);
    }
    if (writer.write(image))
        return true;
    std::fprintf(stderr, "imagegen: %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
    return false;
}

QString loadCjkFamily()
{
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(cjkFontFile));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    return families.isEmpty() ? QString() : families.first();
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: imagegen REPOSITORY_ROOT ICON_FRAME_DIR\n");
        return 2;
    }
    const QString family = loadCjkFamily();
    if (family.isEmpty()) {
        std::fprintf(stderr, "imagegen: cannot load %s (Debian package fonts-wqy-microhei)\n", cjkFontFile);
        return 1;
    }
    const QString appDir = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/app/");
    const QString frameDir = QString::fromLocal8Bit(argv[2]) + QLatin1Char('/');
    const QString res = appDir + QStringLiteral("Resources/");
    bool ok = save(drawBackground(1920, 1050), res + "background.jpg")
              && save(drawTitle(1920, 36, family), res + "title.jpg")
              && save(drawStartIcon(32), res + "start.png")
              && save(drawStopIcon(32), res + "stop.png")
              && save(drawBooks(32, archiveBooks()), res + "winrar.png");
    for (int size : {16, 32, 48, 64, 128, 256})
        ok = ok && save(drawBooks(size, programBooks()),
                        appDir + QStringLiteral("icons/hicolor/%1x%1/apps/halcyon.png").arg(size));
    // Frames of the Windows .ico, packed by generate.sh.
    for (int size : {32, 48, 64, 72, 80, 96, 128, 256})
        ok = ok && save(drawBooks(size, programBooks()), frameDir + QStringLiteral("icon-%1.png").arg(size));
    return ok ? 0 : 1;
}
