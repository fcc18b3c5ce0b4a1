#ifndef ARCHIVEEXTRACTOR_H
#define ARCHIVEEXTRACTOR_H

#include <QString>

#include <functional>

// Gives the backup in an archive back: its one entry (of this program's archives or another
// ZIP writer's, stored or Deflate) into a directory under its own name, byte for byte, with
// the backup's modification time (the exact one where the archive records it, else its DOS
// time). Written under a temporary name, synced, and put in place only once its size and
// CRC-32 are proven, never over a file that stands at that name, never outside the directory.
class ArchiveExtractor
{
public:
    // The bytes given back so far, of total.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    bool extract(const QString &archivePath, const QString &directory, const Progress &progress = {});
    // Where the backup goes (once the headers were read).
    QString targetPath() const { return m_target; }
    QString errorString() const { return m_error; }

    // The entry's name as a file of the directory: its last part; empty, with the reason,
    // for a name that reaches outside (an absolute path, a drive letter, "..").
    static QString safeName(const QString &entryName, QString *reason);

private:
    bool fail(const QString &reason);

    QString m_target;
    QString m_error;
};

#endif // ARCHIVEEXTRACTOR_H
