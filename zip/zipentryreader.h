#ifndef ZIPENTRYREADER_H
#define ZIPENTRYREADER_H

#include <QByteArray>
#include <QString>

class QFile;

// Reads the headers of a single-entry archive as ZipEntryWriter writes it: the end records
// (ZIP64 ones too), the central header, the local header and the data descriptor, each a
// bounded read at a place the one before has fixed, so that whatever they claim only a few
// KB are read (nothing inflated). The entry is whole when its central directory and local
// header agree, the file is exactly as long as they say, and nothing in them is what the
// writer never writes (another flag, version, method or extra field, a comment).
class ZipEntryReader
{
public:
    // What the headers of a whole archive say of its entry.
    struct Entry
    {
        QString name;
        QByteArray rawName; // as stored
        bool utf8Name = false; // stored with the UTF-8 flag
        quint16 method = 0;
        quint64 size = 0;     // uncompressed
        qint64 modified = -1; // the source's exact modification time (FileTime); -1: none recorded
    };

    // file: open for reading.
    explicit ZipEntryReader(QFile &file);

    bool isWhole() const { return m_errorString.isEmpty(); }
    // Why the entry is not whole; empty for a whole one.
    QString errorString() const { return m_errorString; }
    const Entry &entry() const { return m_entry; }

private:
    bool read(QFile &file);
    bool fail(const QString &reason);

    Entry m_entry;
    QString m_errorString;
};

#endif // ZIPENTRYREADER_H
