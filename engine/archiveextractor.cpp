#include "archiveextractor.h"

#include "archiveverifier.h"
#include "filetime.h"
#include "wholefile.h"

#include <QDir>
#include <QFileInfo>

QString ArchiveExtractor::safeName(const QString &entryName, QString *reason)
{
    QString name = entryName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = name.split(QLatin1Char('/'));
    const bool absolute = name.startsWith(QLatin1Char('/'));
    const bool drive = name.size() >= 2 && name.at(1) == QLatin1Char(':');
    if (absolute || drive || parts.contains(QStringLiteral(".."))) {
        *reason = QStringLiteral("条目名称指向目录之外，不予解压：") + entryName;
        return QString();
    }
    const QString last = parts.last();
    // A name the file system would take for something else: "." or one with a stream (":").
    if (last.isEmpty() || last == QLatin1String(".") || last.contains(QLatin1Char(':'))) {
        *reason = QStringLiteral("条目名称不能作为文件名：") + entryName;
        return QString();
    }
    return last;
}

bool ArchiveExtractor::extract(const QString &archivePath, const QString &directory, const Progress &progress)
{
    ArchiveVerifier archive(archivePath);
    if (!archive.readHeaders())
        return fail(archive.errorString());
    QString reason;
    const QString name = safeName(archive.entry().name, &reason);
    if (name.isEmpty())
        return fail(reason);
    m_target = QDir(directory).filePath(name);
    // A dangling link too: whatever it points to is not ours to create.
    const QFileInfo existing(m_target);
    if (existing.exists() || existing.isSymLink())
        return fail(m_target + QStringLiteral(" 已存在，不会覆盖"));

    WholeFile file(m_target, WholeFile::Links::Replaced);
    if (!file.open())
        return fail(file.errorString());
    const qint64 total = qint64(archive.entry().size);
    qint64 done = 0;
    const bool inflated = archive.inflate([&](const char *data, qint64 size, QString &writeError) {
        if (file.device().write(data, size) != size) {
            writeError = file.device().errorString();
            return false;
        }
        done += size;
        if (progress)
            progress(done, total);
        return true;
    });
    if (!inflated)
        return fail(archive.errorString());
    const qint64 exact = archive.entry().modified;
    // Written out first: a later write would move the time again.
    if (!file.device().flush())
        return fail(file.device().errorString());
    if (!FileTime::setModification(file.device(), exact >= 0 ? exact : FileTime::fromDateTime(archive.entry().dosTime), &reason))
        return fail(reason);
    if (!file.commitNew())
        return fail(file.errorString());
    return true;
}

bool ArchiveExtractor::fail(const QString &reason)
{
    m_error = reason;
    return false;
}
