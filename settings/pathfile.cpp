#include "pathfile.h"

#include "gbktext.h"
#include "wholefile.h"

#include <QFile>
#include <QFileInfo>

#include <string>

namespace {

// Far beyond any path; a larger file is not one of ours.
constexpr qint64 kMaxPathFileSize = 64 * 1024;

} // namespace

bool PathFile::read(const QString &fileName, QString *path)
{
    // Only a regular file: a FIFO would hold start-up, a device could be read without end.
    if (!QFileInfo(fileName).isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.read(kMaxPathFileSize + 1);
    if (bytes.size() > kMaxPathFileSize)
        return false;
    // The line end that echo, vi or Notepad leave is not part of the path; blanks may be.
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    *path = fromGbk(std::string(bytes.constData(), size_t(bytes.size())));
    return true;
}

bool PathFile::isTooLarge(const QString &fileName)
{
    const QFileInfo info(fileName);
    return info.isFile() && info.size() > kMaxPathFileSize;
}

bool PathFile::write(const QString &fileName, const QString &path, QString *reason)
{
    // Replaced whole or not at all, so a crash never leaves half a path behind.
    WholeFile file(fileName);
    const std::string bytes = toGbk(path);
    if (!file.open()) {
        *reason = file.errorString();
        return false;
    }
    if (file.device().write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size())) {
        *reason = file.device().errorString();
        return false;
    }
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}
