#include "archivereader.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>

#include <QFile>

#include <zlib.h>

quint32 crcOf(const QByteArray &bytes)
{
    return quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(bytes.constData()),
                         uInt(bytes.size())));
}

namespace {

void readLocalHeader(const QString &path, ArchiveContent &content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray head = file.read(30);
    if (head.size() < 30 || !head.startsWith("PK\x03\x04"))
        return;
    auto u16 = [&head](int at) { return quint16(quint8(head[at]) | quint8(head[at + 1]) << 8); };
    content.localFlags = u16(6);
    const int nameLength = u16(26);
    const int extraLength = u16(28);
    file.read(nameLength);
    const QByteArray extra = file.read(extraLength);
    for (int at = 0; at + 4 <= extra.size();) {
        const quint16 id = quint16(quint8(extra[at]) | quint8(extra[at + 1]) << 8);
        const quint16 size = quint16(quint8(extra[at + 2]) | quint8(extra[at + 3]) << 8);
        if (id == 0x0001)
            content.localHasZip64 = true;
        at += 4 + size;
    }
}

} // namespace

ArchiveContent readArchive(const QString &path, bool withData)
{
    ArchiveContent content;
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return content;
    content.entryCount = zip.getEntriesCount();
    if (!zip.goToFirstFile())
        return content;
    QuaZipFileInfo64 info;
    if (!zip.getCurrentFileInfo(&info))
        return content;
    content.entryName = info.name;
    content.method = info.method;
    content.crc = info.crc;
    content.uncompressedSize = info.uncompressedSize;
    content.dateTime = info.dateTime;
    if (withData) {
        QuaZipFile entry(&zip);
        if (!entry.open(QIODevice::ReadOnly))
            return content;
        content.data = entry.readAll();
        entry.close();
        if (entry.getZipError() != UNZ_OK)
            return content;
    }
    zip.close();
    readLocalHeader(path, content);
    content.valid = true;
    return content;
}

