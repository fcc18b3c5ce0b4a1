#ifndef ARCHIVEREADER_H
#define ARCHIVEREADER_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What an archive holds, read back through QuaZip's unzip mode.
struct ArchiveContent
{
    bool valid = false;
    int entryCount = 0;
    QString entryName;
    quint16 method = 0;
    quint32 crc = 0;
    quint64 uncompressedSize = 0;
    QDateTime dateTime;
    QByteArray data;
    quint16 localFlags = 0;      // general purpose bits of the first local header
    bool localHasZip64 = false;  // first local header carries a ZIP64 extra field
};

quint32 crcOf(const QByteArray &bytes);
// Reads the first entry; withData false skips reading its bytes (for very large entries).
ArchiveContent readArchive(const QString &path, bool withData = true);

#endif // ARCHIVEREADER_H
