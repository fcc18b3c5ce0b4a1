#ifndef ZIPENTRYWRITER_H
#define ZIPENTRYWRITER_H

#include <QByteArray>

class QIODevice;
class QuaZip;
struct QuaZipNewInfo;

// Writes the one entry of an archive through QuaZip's zip handle, as ZipEntryReader reads
// it: a raw Deflate stream given piece by piece, whose CRC and size come at the close, then a
// data descriptor. Beside the DOS time (local, to 2 s) the entry records the source's exact
// time (FileTime) in an NTFS extra field of both headers, by which a later job knows the
// archive still holds the source.
class ZipEntryWriter
{
public:
    // True when a Deflate stream of up to deflateBound bytes needs ZIP64 fields: without
    // them streaming readers reject an entry past 4 GiB.
    static bool needsZip64(qint64 deflateBound);
    // The NTFS extra field that gives time as its modification, access and creation time.
    static QByteArray ntfsTimeField(qint64 time);

    // archive: the device zip writes, with the entry's local header as its first.
    ZipEntryWriter(QuaZip &zip, QIODevice &archive);

    // name: the entry name's own bytes; exactModified -1 records no exact time.
    bool open(const QuaZipNewInfo &info, const QByteArray &name, qint64 exactModified, bool zip64);
    bool write(const QByteArray &deflated);
    // size: the bytes that were deflated, crc: their CRC-32.
    bool close(qint64 size, quint32 crc);

private:
    bool fillLocalZip64Sizes(qint64 size);

    QuaZip &m_zip;
    QIODevice &m_archive;
    // Where the local header's ZIP64 field begins; -1 without one.
    qint64 m_zip64FieldAt = -1;
    // The Deflate bytes written into the entry.
    qint64 m_written = 0;
};

#endif // ZIPENTRYWRITER_H
