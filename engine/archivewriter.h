#ifndef ARCHIVEWRITER_H
#define ARCHIVEWRITER_H

#include <QByteArray>
#include <QString>

#include <functional>

class OutputReserve;
class ParallelDeflater;
class QFile;
class QFileDevice;
class QuaZip;
class WriteBehind;
class ZipEntryWriter;

// Writes one source file as the single Deflate entry of a ZIP archive of its own. The
// archive is written under a temporary name and put in place only whole (WholeFile), so
// an older archive of that name stays until then, and for good if anything fails. The
// Deflate stream is made block by block on several threads (ParallelDeflater); this
// thread alone reads the source and writes the archive, the entry through ZipEntryWriter.
class ArchiveWriter
{
public:
    // Called for each piece of 4096 bytes (the last may be shorter) read from the source,
    // with the bytes read so far and the archive's size so far. The last piece's call comes
    // only once the archive is in place, with its final size; an empty source gets just that.
    using Progress = std::function<void(qint64 sourceRead, qint64 archiveBytes)>;
    // Asked between pieces: true ends the archive as a failed one.
    using Cancelled = std::function<bool()>;

    // compressors: threads for a source of more than one block; 0 deflates on this thread.
    // reserve: asked before the archive and before each block it writes; null writes until
    // the disk is full.
    ArchiveWriter(int compressors, Cancelled cancelled, OutputReserve *reserve = nullptr);

    // The compressors for this machine: one for each CPU the process may use, none on one.
    static int defaultCompressors();

    // False on any failure, also for a source that changed while it was read (its size or
    // modification time, or the bytes read, differ at the end from the start).
    bool write(const QString &sourcePath, const QString &archivePath, const Progress &progress);
    // Why the last write failed: the system's own words, or the program's for its checks;
    // empty when it was cancelled.
    QString errorString() const { return m_error; }
    // The last write failed because it would have taken the volume below its reserve.
    bool reserveReached() const { return m_reserveReached; }

private:
    bool writeEntry(ZipEntryWriter &entry, QFile &source, const QString &sourcePath);
    bool copy(QFile &source, ZipEntryWriter &entry, ParallelDeflater &deflater);
    void reportPieces(qint64 count, bool atEnd);
    bool pushBlock(ZipEntryWriter &entry, ParallelDeflater &deflater, const QByteArray &block, bool last);
    bool writeReady(ZipEntryWriter &entry, ParallelDeflater &deflater, bool all);
    bool writeNext(ZipEntryWriter &entry, ParallelDeflater &deflater);
    bool fail(const QString &reason);
    bool failReserve();

    const int m_compressors;
    const Cancelled m_cancelled;
    OutputReserve *const m_reserve;
    // The archive being written and what has been read of its source.
    Progress m_progress;
    QFileDevice *m_archive = nullptr;
    WriteBehind *m_writeBehind = nullptr;
    QString m_error;
    bool m_reserveReached = false;
    qint64 m_read = 0;
};

#endif // ARCHIVEWRITER_H
