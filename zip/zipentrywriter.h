#ifndef ZIPENTRYWRITER_H
#define ZIPENTRYWRITER_H

#include "blockindex.h"

#include <QByteArray>
#include <QVector>

#include <optional>

class QIODevice;
class QuaZip;
struct QuaZipNewInfo;

// Writes the one entry of an archive through QuaZip's zip handle, as ZipEntryReader reads
// it: a raw Deflate stream given piece by piece, whose CRC and size come at the close, then a
// data descriptor. Beside the DOS time (local, to 2 s) the entry records the source's exact
// time (FileTime) in an NTFS extra field of both headers, by which a later job knows the
// archive still holds the source. The central header may carry the block index (BlockIndex):
// reserved at the open, its offsets go in once the archive is closed.
class ZipEntryWriter
{
public:
    // True when a Deflate stream of up to deflateBound bytes needs ZIP64 fields: without
    // them streaming readers reject an entry past 4 GiB.
    static bool needsZip64(qint64 deflateBound);
    // The NTFS extra field that gives time as its modification, access and creation time.
    static QByteArray ntfsTimeField(qint64 time);

    // archive: the device zip writes, with the entry's local header as its first; readable
    // too for the block index.
    ZipEntryWriter(QuaZip &zip, QIODevice &archive);

    // name: the entry name's own bytes; exactModified -1 records no exact time. indexedSize:
    // the source's size, for which the central header reserves the block index; -1 for none.
    bool open(const QuaZipNewInfo &info, const QByteArray &name, qint64 exactModified, bool zip64,
              qint64 indexedSize = -1);
    // With a block index, each write is one block's Deflate output.
    bool write(const QByteArray &deflated);
    // size: the bytes that were deflated, crc: their CRC-32.
    bool close(qint64 size, quint32 crc);
    // Once the archive is closed: the blocks' offsets into the field open reserved, after
    // checking that the bytes there are still its placeholder. True without an index.
    bool fillBlockIndex();

private:
    bool fillLocalZip64Sizes(qint64 size);

    QuaZip &m_zip;
    QIODevice &m_archive;
    // Where the local header's ZIP64 field begins; -1 without one.
    qint64 m_zip64FieldAt = -1;
    // The Deflate bytes written into the entry.
    qint64 m_written = 0;
    std::optional<BlockIndex> m_index;
    QVector<quint64> m_blockStarts; // of the listed blocks
    quint64 m_blocks = 0;           // written so far
    // Where the central header begins once the entry is closed, and the bytes after its fixed
    // part up to the reserved field's end, as open gave them to zip: name, extra fields.
    qint64 m_centralAt = -1;
    QByteArray m_nameToIndexEnd;
};

#endif // ZIPENTRYWRITER_H
