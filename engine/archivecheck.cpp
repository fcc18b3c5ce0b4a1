#include "archivecheck.h"

#include "filenamecodec.h"
#include "filetime.h"
#include "zipformat.h"

#include <QFile>
#include <QFileInfo>

ArchiveCheck::ArchiveCheck(const QString &archivePath, Strictness strictness)
{
    FileNameCodec::install();
    // Opening a FIFO for reading would wait for a writer; the archive replaces it anyway,
    // and a link, another account's perhaps, too. Any writer's archive is only read.
    const QFileInfo info(archivePath);
    if (!info.isFile() || (strictness == Strictness::ThisProgram && info.isSymLink())) {
        m_errorString = QStringLiteral("no archive file");
        return;
    }
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        m_errorString = file.errorString();
        return;
    }
    m_archiveSize = file.size();
    const ZipEntryReader reader(file, strictness);
    if (reader.isWhole())
        m_entry = reader.entry();
    else
        m_errorString = file.error() != QFileDevice::NoError ? file.errorString() : reader.errorString();
}

bool ArchiveCheck::holds(const QString &sourcePath) const
{
    const QFileInfo source(sourcePath);
    const QByteArray name = FileNameCodec::entryName(source.fileName());
    return isWhole() && m_entry.method == ZipFormat::kDeflate && m_entry.modified >= 0 && m_entry.rawName == name
        && m_entry.utf8Name == FileNameCodec::isUtf8Name(name) && m_entry.size == quint64(source.size())
        && m_entry.modified == FileTime::exactModification(sourcePath);
}
