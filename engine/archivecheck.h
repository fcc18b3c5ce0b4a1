#ifndef ARCHIVECHECK_H
#define ARCHIVECHECK_H

#include "zipentryreader.h"

#include <QByteArray>
#include <QString>

// Tells from an archive's headers alone (ZipEntryReader: a few KB read, nothing inflated)
// whether it still holds its backup as the backup is now, so that the job can leave it as
// it is. Only a whole single-entry archive counts: its central directory and local header
// agree, and the file is exactly as long as they say, and nothing in them is what this
// program's writer never writes (another flag, version, method or extra field). Read as any
// writer's, a single-entry archive of another program is whole too (ZipEntryReader), and a
// link to one is followed.
class ArchiveCheck
{
public:
    // What the headers of a whole archive say of its entry.
    using Entry = ZipEntryReader::Entry;
    using Strictness = ZipEntryReader::Strictness;

    explicit ArchiveCheck(const QString &archivePath, Strictness strictness = Strictness::ThisProgram);

    bool isWhole() const { return m_errorString.isEmpty(); }
    // Why the archive is not whole; empty for a whole one.
    QString errorString() const { return m_errorString; }
    const Entry &entry() const { return m_entry; }
    qint64 archiveSize() const { return m_archiveSize; }

    // True when the archive is whole and its one Deflate entry is sourcePath as it is now:
    // its bare name (the same bytes, flagged as UTF-8 exactly where they are), its size and
    // its exact modification time.
    bool holds(const QString &sourcePath) const;

private:
    Entry m_entry;
    qint64 m_archiveSize = 0;
    QString m_errorString;
};

#endif // ARCHIVECHECK_H
