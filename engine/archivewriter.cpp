#include "archivewriter.h"

#include "filenamecodec.h"
#include "filetime.h"
#include "outputreserve.h"
#include "paralleldeflater.h"
#include "sourcepagecache.h"
#include "systemerror.h"
#include "wholefile.h"
#include "writebehind.h"
#include "zipentrywriter.h"

#include <quazip.h>
#include <quazipnewinfo.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr qint64 kPieceSize = 4096;
// Read at once, unbuffered: 4096-byte reads through QFile's buffer cost a copy and four
// times the system calls.
constexpr qint64 kChunkSize = 16 * kPieceSize;

// The most that the deflater's blocks can make of size bytes, joined.
qint64 deflateBound(qint64 size)
{
    return ParallelDeflater::outputBound(size);
}

// What tells that a source changed while it was read.
struct SourceState
{
    explicit SourceState(const QString &path)
    {
        const QFileInfo info(path);
        size = info.size();
        modified = info.lastModified();
        exactModified = FileTime::exactModification(path);
    }
    bool operator==(const SourceState &other) const
    {
        return size == other.size && modified == other.modified && exactModified == other.exactModified;
    }
    qint64 size;
    QDateTime modified;
    qint64 exactModified;
};

} // namespace

ArchiveWriter::ArchiveWriter(int compressors, Cancelled cancelled, OutputReserve *reserve)
    : m_compressors(compressors)
    , m_cancelled(std::move(cancelled))
    , m_reserve(reserve)
{
    FileNameCodec::install();
}

int ArchiveWriter::defaultCompressors()
{
    const int cpus = ParallelDeflater::availableCpus();
    return cpus > 1 ? cpus : 0;
}

bool ArchiveWriter::write(const QString &sourcePath, const QString &archivePath, const Progress &progress)
{
    m_error.clear();
    m_reserveReached = false;
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(source.errorString());
    SourcePageCache::preferSequential(source);
    QDir().mkpath(QFileInfo(archivePath).absolutePath());
    // A volume already at its reserve is not worth reading the backup for.
    if (m_reserve && !m_reserve->allows(0))
        return failReserve();
    // Another account may have put a link under the archive's name; and the archive is
    // no more readable than its backup.
    WholeFile file(archivePath, WholeFile::Links::Replaced);
    if (!file.open() || !file.setPermissionsOf(source))
        return fail(file.errorString());

    QuaZip zip(&file.device());
    zip.setAutoClose(false);
    zip.setUtf8Enabled(FileNameCodec::isUtf8Name(FileNameCodec::entryName(QFileInfo(sourcePath).fileName())));
    const SystemError opening;
    if (!zip.open(QuaZip::mdCreate))
        return fail(opening.reasonFor(file.device()));
    m_progress = progress;
    m_archive = &file.device();
    WriteBehind writeBehind(file.device());
    m_writeBehind = &writeBehind;
    m_read = 0;
    ZipEntryWriter entry(zip, file.device());
    const bool written = writeEntry(entry, source, sourcePath);
    const SystemError closing;
    zip.close();
    const QString closeError = closing.reasonFor(file.device());
    const qint64 archiveSize = file.device().size();
    m_archive = nullptr;
    m_writeBehind = nullptr;
    if (!written)
        return false;
    if (zip.getZipError() != 0)
        return fail(closeError);
    const SystemError indexing;
    if (!entry.fillBlockIndex()) {
        const bool systemError = file.device().error() != QFileDevice::NoError;
        return fail(systemError ? indexing.reasonFor(file.device()) : QStringLiteral("压缩文件的块索引未能写入"));
    }
    if (!file.commit(m_cancelled))
        return fail(m_cancelled() ? QString() : file.errorString());
    progress(m_read, archiveSize);
    return true;
}

bool ArchiveWriter::writeEntry(ZipEntryWriter &entry, QFile &source, const QString &sourcePath)
{
    const SourceState atOpening(sourcePath);
    // Decided from what the entry may become: incompressible data just under 4 GiB
    // deflates past it.
    const bool zip64 = ZipEntryWriter::needsZip64(deflateBound(atOpening.size));
    const QuaZipNewInfo info(QFileInfo(sourcePath).fileName(), sourcePath);
    // The name's own bytes, whatever they are.
    const QByteArray name = FileNameCodec::entryName(info.name);
    const SystemError opening;
    // Each block's output is one write, whose start the index records.
    if (!entry.open(info, name, atOpening.exactModified, zip64, atOpening.size))
        return fail(opening.reasonFor(*m_archive));
    ParallelDeflater deflater(m_compressors);
    if (!copy(source, entry, deflater))
        return false;
    // A backup still being written (or rewritten) would be archived as a mix of states.
    if (m_read != atOpening.size || !(SourceState(sourcePath) == atOpening))
        return fail(QStringLiteral("备份文件在读取时发生了变化"));
    const SystemError closing;
    if (!entry.close(m_read, deflater.crc()))
        return fail(closing.reasonFor(*m_archive));
    return true;
}

// Reads the source in chunks straight into blocks; a full block goes to the deflater only
// once the next chunk shows it is not the last, so that the last block ends the stream.
bool ArchiveWriter::copy(QFile &source, ZipEntryWriter &entry, ParallelDeflater &deflater)
{
    SourcePageCache pageCache(source);
    QByteArray block(ParallelDeflater::kBlockSize, Qt::Uninitialized);
    int filled = 0;
    bool atEnd = source.atEnd();
    while (!atEnd) {
        if (m_cancelled())
            return false;
        if (filled == block.size()) {
            if (!pushBlock(entry, deflater, block, false))
                return false;
            block = QByteArray(ParallelDeflater::kBlockSize, Qt::Uninitialized);
            filled = 0;
        }
        const qint64 count = source.read(block.data() + filled, std::min<qint64>(kChunkSize, block.size() - filled));
        if (count <= 0)
            return fail(count < 0 ? source.errorString() : QStringLiteral("备份文件在读取时发生了变化"));
        filled += int(count);
        pageCache.readUpTo(source.pos());
        atEnd = source.atEnd();
        if (!writeReady(entry, deflater, false))
            return false;
        reportPieces(count, atEnd);
    }
    block.truncate(filled);
    if (!pushBlock(entry, deflater, block, true) || !writeReady(entry, deflater, true))
        return false;
    if (deflater.inputSize() != m_read)
        return fail(QStringLiteral("压缩数据不完整"));
    return true;
}

// One report for each piece of 4096 bytes read, but the source's very last one.
void ArchiveWriter::reportPieces(qint64 count, bool atEnd)
{
    for (qint64 done = 0; done < count; done += kPieceSize) {
        m_read += std::min(kPieceSize, count - done);
        if (!atEnd || done + kPieceSize < count)
            m_progress(m_read, m_archive->pos());
    }
}

bool ArchiveWriter::pushBlock(ZipEntryWriter &entry, ParallelDeflater &deflater, const QByteArray &block, bool last)
{
    // Memory stays bounded: the oldest blocks are written out before another goes in.
    while (deflater.full()) {
        if (!writeNext(entry, deflater))
            return false;
    }
    deflater.push(block, last);
    return true;
}

// Writes the outputs that are done, or with all every output still to come.
bool ArchiveWriter::writeReady(ZipEntryWriter &entry, ParallelDeflater &deflater, bool all)
{
    while (deflater.inFlight() > 0 && (all || deflater.nextReady())) {
        if (!writeNext(entry, deflater))
            return false;
    }
    return true;
}

bool ArchiveWriter::writeNext(ZipEntryWriter &entry, ParallelDeflater &deflater)
{
    const QByteArray output = deflater.takeNext();
    // Out of memory, or a block that did not give back its source.
    if (deflater.failed())
        return fail(QStringLiteral("压缩数据未通过校验，或内存不足"));
    if (m_reserve && !m_reserve->allows(output.size()))
        return failReserve();
    const SystemError writing;
    if (!entry.write(output))
        return fail(writing.reasonFor(*m_archive));
    if (!m_writeBehind->wroteUpTo(m_archive->pos()))
        return fail(m_writeBehind->errorString());
    return true;
}

bool ArchiveWriter::failReserve()
{
    m_reserveReached = m_error.isEmpty();
    return fail(m_reserve->reason());
}

bool ArchiveWriter::fail(const QString &reason)
{
    // The first failure is the reason; what follows from it is not.
    if (m_error.isEmpty())
        m_error = reason;
    return false;
}
