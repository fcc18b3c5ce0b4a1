#ifndef ZIPENTRYREADER_H
#define ZIPENTRYREADER_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

class QFile;

// Reads the headers of a single-entry archive as ZipEntryWriter writes it: the end records
// (ZIP64 ones too), the central header, the local header and the data descriptor, each a
// bounded read at a place the one before has fixed, so that whatever they claim only a few
// KB are read (nothing inflated). The entry is whole when its central directory and local
// header agree, the file is exactly as long as they say, and nothing in them is what the
// writer never writes (another flag, version, method or extra field, a comment, a block
// index other than the one its size gives); an archive without a block index is whole too.
//
// Read as any writer's (Strictness::AnyWriter), a single-entry archive of another ZIP writer
// is whole too: comments, other extra fields, a data descriptor or none, ZIP64, a stored
// entry. Its end record is searched for in the last 64 KiB; a broken block index only leaves
// the entry without one. Several entries, another method and encryption are not whole.
// A reason names where it was found and what failed there.
class ZipEntryReader
{
public:
    enum class Strictness { ThisProgram, AnyWriter };

    // What the headers of a whole archive say of its entry.
    struct Entry
    {
        QString name;
        QByteArray rawName; // as stored
        bool utf8Name = false; // stored with the UTF-8 flag
        quint16 method = 0;
        quint64 size = 0;     // uncompressed
        // The source's exact modification time (FileTime); -1: none recorded. Any writer's:
        // an NTFS field's modification time.
        qint64 modified = -1;
        QDateTime dosTime; // local time, to 2 s; invalid where the fields are
        qint64 dataOffset = 0; // the entry's first compressed byte in the file
        quint64 compressedSize = 0;
        quint32 crc = 0;
        // The block index (BlockIndex): the compressed offsets of blocks k, 2k, ... of
        // 2^blockSizeLog2 source bytes each, k the stride; 0 without an index.
        quint32 blockStride = 0;
        int blockSizeLog2 = 0;
        QVector<quint64> blockStarts;
    };

    // file: open for reading.
    explicit ZipEntryReader(QFile &file, Strictness strictness = Strictness::ThisProgram);

    bool isWhole() const { return m_errorString.isEmpty(); }
    // Why the entry is not whole; empty for a whole one.
    QString errorString() const { return m_errorString; }
    const Entry &entry() const { return m_entry; }

private:
    bool read(QFile &file);
    bool fail(const QString &reason);

    const bool m_strict;
    Entry m_entry;
    QString m_errorString;
};

#endif // ZIPENTRYREADER_H
