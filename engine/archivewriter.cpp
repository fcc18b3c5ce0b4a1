#include "archivewriter.h"

#include "archivecheck.h"
#include "filenamecodec.h"
#include "paralleldeflater.h"
#include "systemerror.h"
#include "wholefile.h"

#include <quazip.h>
#include <quazipnewinfo.h>
#include <zip.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>

namespace {

constexpr qint64 kPieceSize = 4096;
// Read at once, unbuffered: 4096-byte reads through QFile's buffer cost a copy and four
// times the system calls.
constexpr qint64 kChunkSize = 16 * kPieceSize;
// From this size on the entry needs ZIP64 fields, or streaming readers reject it.
constexpr qint64 kZip64Threshold = 0xFFFFFFFFLL;
// "Made by" ZIP 3.0, as QuaZip writes it.
constexpr uLong kVersionMadeBy = 0x1E;
// The fixed part of a local header; the entry's is the archive's first.
constexpr qint64 kLocalHeaderSize = 30;

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
        exactModified = ArchiveCheck::exactModificationTime(path);
    }
    bool operator==(const SourceState &other) const
    {
        return size == other.size && modified == other.modified && exactModified == other.exactModified;
    }
    qint64 size;
    QDateTime modified;
    qint64 exactModified;
};

zip_fileinfo zipInfo(const QuaZipNewInfo &info)
{
    zip_fileinfo zipInfo{};
    const QDate date = info.dateTime.date();
    const QTime time = info.dateTime.time();
    zipInfo.tmz_date.tm_year = uInt(date.year());
    zipInfo.tmz_date.tm_mon = uInt(date.month() - 1);
    zipInfo.tmz_date.tm_mday = uInt(date.day());
    zipInfo.tmz_date.tm_hour = uInt(time.hour());
    zipInfo.tmz_date.tm_min = uInt(time.minute());
    zipInfo.tmz_date.tm_sec = uInt(time.second());
    zipInfo.internal_fa = uLong(info.internalAttr);
    zipInfo.external_fa = uLong(info.externalAttr);
    return zipInfo;
}

} // namespace

ArchiveWriter::ArchiveWriter(int compressors, Cancelled cancelled)
    : m_compressors(compressors)
    , m_cancelled(std::move(cancelled))
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
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(source.errorString());
    QDir().mkpath(QFileInfo(archivePath).absolutePath());
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
    m_read = 0;
    const bool written = writeEntry(zip, source);
    const SystemError closing;
    zip.close();
    const QString closeError = closing.reasonFor(file.device());
    const qint64 archiveSize = file.device().size();
    m_archive = nullptr;
    if (!written)
        return false;
    if (zip.getZipError() != 0)
        return fail(closeError);
    if (!file.commit(m_cancelled))
        return fail(m_cancelled() ? QString() : file.errorString());
    progress(m_read, archiveSize);
    return true;
}

bool ArchiveWriter::writeEntry(QuaZip &zip, QFile &source)
{
    const SourceState atOpening(source.fileName());
    // Decided from what the entry may become: incompressible data just under 4 GiB
    // deflates past it.
    const bool zip64 = deflateBound(atOpening.size) >= kZip64Threshold;
    const QuaZipNewInfo info(QFileInfo(source.fileName()).fileName(), source.fileName());
    // The name's own bytes, whatever they are.
    const QByteArray name = FileNameCodec::entryName(info.name);
    const QByteArray extra =
        atOpening.exactModified >= 0 ? ArchiveCheck::ntfsTimeField(atOpening.exactModified) : QByteArray();
    const SystemError opening;
    if (!openEntry(zip, info, name, extra, zip64))
        return fail(opening.reasonFor(*m_archive));
    ParallelDeflater deflater(m_compressors);
    m_written = 0;
    if (!copy(source, zip, deflater))
        return false;
    // A backup still being written (or rewritten) would be archived as a mix of states.
    if (m_read != atOpening.size || !(SourceState(source.fileName()) == atOpening))
        return fail(QStringLiteral("备份文件在读取时发生了变化"));
    const SystemError closing;
    if (zipCloseFileInZipRaw64(zip.getZipFile(), quint64(m_read), deflater.crc()) != ZIP_OK
        || (zip64 && !fillLocalZip64Sizes(kLocalHeaderSize + name.size() + extra.size())))
        return fail(closing.reasonFor(*m_archive));
    return true;
}

// The entry takes the raw Deflate stream: its CRC and 64-bit size are given at its close.
// Beside the DOS time (local, to 2 s) it records the source's exact time (extra, in both
// headers), by which a later job knows the archive still holds the source.
bool ArchiveWriter::openEntry(QuaZip &zip, const QuaZipNewInfo &info, const QByteArray &name,
                              const QByteArray &extra, bool zip64)
{
    const zip_fileinfo fileInfo = zipInfo(info);
    zipSetFlags(zip.getZipFile(), ZIP_WRITE_DATA_DESCRIPTOR);
    return zipOpenNewFileInZip4_64(zip.getZipFile(), name.constData(), &fileInfo, extra.constData(),
                                   uInt(extra.size()), extra.constData(), uInt(extra.size()), nullptr,
                                   Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                   nullptr, 0,
                                   (uLong(zip.getOsCode()) << 8) | kVersionMadeBy, 0, zip64 ? 1 : 0)
        == ZIP_OK;
}

// Reads the source in chunks straight into blocks; a full block goes to the deflater only
// once the next chunk shows it is not the last, so that the last block ends the stream.
bool ArchiveWriter::copy(QFile &source, QuaZip &zip, ParallelDeflater &deflater)
{
    QByteArray block(ParallelDeflater::kBlockSize, Qt::Uninitialized);
    int filled = 0;
    bool atEnd = source.atEnd();
    while (!atEnd) {
        if (m_cancelled())
            return false;
        if (filled == block.size()) {
            if (!pushBlock(zip, deflater, block, false))
                return false;
            block = QByteArray(ParallelDeflater::kBlockSize, Qt::Uninitialized);
            filled = 0;
        }
        const qint64 count = source.read(block.data() + filled, std::min<qint64>(kChunkSize, block.size() - filled));
        if (count <= 0)
            return fail(count < 0 ? source.errorString() : QStringLiteral("备份文件在读取时发生了变化"));
        filled += int(count);
        atEnd = source.atEnd();
        if (!writeReady(zip, deflater, false))
            return false;
        reportPieces(count, atEnd);
    }
    block.truncate(filled);
    if (!pushBlock(zip, deflater, block, true) || !writeReady(zip, deflater, true))
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

bool ArchiveWriter::pushBlock(QuaZip &zip, ParallelDeflater &deflater, const QByteArray &block, bool last)
{
    // Memory stays bounded: the oldest blocks are written out before another goes in.
    while (deflater.full()) {
        if (!writeNext(zip, deflater))
            return false;
    }
    deflater.push(block, last);
    return true;
}

// Writes the outputs that are done, or with all every output still to come.
bool ArchiveWriter::writeReady(QuaZip &zip, ParallelDeflater &deflater, bool all)
{
    while (deflater.inFlight() > 0 && (all || deflater.nextReady())) {
        if (!writeNext(zip, deflater))
            return false;
    }
    return true;
}

bool ArchiveWriter::writeNext(QuaZip &zip, ParallelDeflater &deflater)
{
    const QByteArray output = deflater.takeNext();
    m_written += output.size();
    // Out of memory, or a block that did not give back its source.
    if (deflater.failed())
        return fail(QStringLiteral("压缩数据未通过校验，或内存不足"));
    const SystemError writing;
    if (zipWriteInFileInZip(zip.getZipFile(), output.constData(), uint(output.size())) != ZIP_OK)
        return fail(writing.reasonFor(*m_archive));
    return true;
}

// minizip fills the local ZIP64 field's sizes only once one reaches 4 GiB and leaves them
// 0 below, which 7-Zip reports as a header error: they go in here, the same where it did.
bool ArchiveWriter::fail(const QString &reason)
{
    // The first failure is the reason; what follows from it is not.
    if (m_error.isEmpty())
        m_error = reason;
    return false;
}

bool ArchiveWriter::fillLocalZip64Sizes(qint64 zip64FieldAt)
{
    uchar sizes[16];
    qToLittleEndian<quint64>(quint64(m_read), sizes);
    qToLittleEndian<quint64>(quint64(m_written), sizes + 8);
    const qint64 end = m_archive->pos();
    // The field: its ID and length (2 bytes each), then the two sizes.
    return m_archive->seek(zip64FieldAt + 4)
        && m_archive->write(reinterpret_cast<const char *>(sizes), sizeof sizes) == qint64(sizeof sizes)
        && m_archive->seek(end);
}
