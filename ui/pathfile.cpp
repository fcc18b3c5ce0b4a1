#include "pathfile.h"

#include "gbktext.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QSaveFile>

#include <string>

namespace {

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
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    field->setText(fromGbk(std::string(bytes.constData(), size_t(bytes.size()))));
    return true;
}

void PathFile::write(const QString &fileName, const QString &path)
{
    // Replaced whole or not at all, so a crash never leaves half a path behind.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    const std::string bytes = toGbk(path);
    file.write(bytes.data(), qint64(bytes.size()));
    file.commit();
}

void PathFile::choose(QWidget *parent, const QString &fileName, QLineEdit *field)
{
    const QString path = QFileDialog::getExistingDirectory(
        parent, QStringLiteral("请选择磁盘分区"), chooserStart(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (path.isEmpty())
        return;
    field->setText(path);
    write(fileName, path);
}
