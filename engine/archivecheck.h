#ifndef ARCHIVECHECK_H
#define ARCHIVECHECK_H

#include <QByteArray>
#include <QString>

class QFile;

// Tells from an archive's headers alone (a few KB read, nothing inflated) whether it still
// holds its backup as the backup is now, so that the job can leave it as it is. Only a whole
// single-entry archive counts: its central directory and local header agree, and the file
// is exactly as long as they say, and nothing in them is what this program's writer never
// writes (another flag, version, method or extra field). Whatever its headers claim, reads
// stay small.
//
// Exact times count 100-ns intervals since 1601-01-01 UTC, as NTFS keeps them.
class ArchiveCheck
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
        qint64 modified = -1; // the source's exact modification time; -1: none recorded
    };

    explicit ArchiveCheck(const QString &archivePath);

    bool isWhole() const { return m_errorString.isEmpty(); }
    // Why the archive is not whole; empty for a whole one.
    QString errorString() const { return m_errorString; }
    const Entry &entry() const { return m_entry; }
    qint64 archiveSize() const { return m_archiveSize; }

    // True when the archive is whole and its one Deflate entry is sourcePath as it is now:
    // its bare name (the same bytes, flagged as UTF-8 exactly where they are), its size and
    // its exact modification time.
    bool holds(const QString &sourcePath) const;

    // The last modification of path as exactly as its file system keeps it (to 100 ns);
    // -1 when it cannot be read or lies before 1601.
    static qint64 exactModificationTime(const QString &path);
    // The NTFS extra field that gives an entry time as its modification, access and
    // creation time.
    static QByteArray ntfsTimeField(qint64 time);

private:
    bool read(QFile &file);
    bool fail(const QString &reason);

    Entry m_entry;
    qint64 m_archiveSize = 0;
    QString m_errorString;
};

#endif // ARCHIVECHECK_H
