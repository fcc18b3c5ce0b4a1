#include "pathfile.h"

#include "gbktext.h"
#include "messages.h"
#include "warningbox.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

#include <string>

namespace {

// Far beyond any path; a larger file is not one of ours.
constexpr qint64 kMaxPathFileSize = 64 * 1024;

QString chooserStart()
{
#ifdef Q_OS_WIN
    return QStringLiteral("D:/");
#else
    // No drive letters here: open where the user's own files are.
    return QDir::homePath();
#endif
}

} // namespace

bool PathFile::read(const QString &fileName, QLineEdit *field)
{
    QString path;
    if (!read(fileName, &path))
        return false;
    field->setText(path);
    return true;
}

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

void PathFile::choose(QWidget *parent, const QString &fileName, QLineEdit *field)
{
    const QString path = QFileDialog::getExistingDirectory(
        parent, QStringLiteral("请选择磁盘分区"), chooserStart(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (path.isEmpty())
        return;
    field->setText(path);
    // The path is used until the program ends; the operator learns it will not come back.
    QString reason;
    if (!write(fileName, path, &reason))
        showWarning(Messages::pathNotSaved(path, reason));
}
