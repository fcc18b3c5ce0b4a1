#ifndef ARCHIVEVERIFIER_H
#define ARCHIVEVERIFIER_H

#include "entryinflater.h"
#include "zipentryreader.h"

#include <QFile>
#include <QString>

// An archive read back from the disk: its headers (this program's or another ZIP writer's
// single entry, stored or Deflate), then every byte of its entry inflated, on every CPU where
// its block index allows, and its size and CRC-32 compared with what the headers say.
class ArchiveVerifier
{
public:
    using Sink = EntryInflater::Sink;

    explicit ArchiveVerifier(const QString &archivePath);

    // False when the archive cannot be opened or its headers are not those of one entry.
    bool readHeaders();
    // What the headers say, once readHeaders() succeeded.
    const ZipEntryReader::Entry &entry() const { return m_entry; }
    // Every byte of the entry, in order, into sink (null: only proven).
    bool inflate(const Sink &sink = {});
    // Why the archive is not whole: where, and which check.
    QString errorString() const { return m_error; }

private:
    bool fail(const QString &reason);

    QFile m_file;
    ZipEntryReader::Entry m_entry;
    bool m_headersRead = false;
    QString m_error;
};

#endif // ARCHIVEVERIFIER_H
