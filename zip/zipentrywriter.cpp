#include "zipentrywriter.h"

#include "zipformat.h"

#include <quazip.h>
#include <quazipnewinfo.h>
#include <zip.h>

#include <QIODevice>
#include <QtEndian>

using namespace ZipFormat;

namespace {

// From this size on the entry needs ZIP64 fields, or streaming readers reject it.
constexpr qint64 kZip64Threshold = kNo32;

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

bool ZipEntryWriter::needsZip64(qint64 deflateBound)
{
    return deflateBound >= kZip64Threshold;
}

QByteArray ZipEntryWriter::ntfsTimeField(qint64 time)
{
    QByteArray field(kExtraBlockHeaderSize + kNtfsBlockSize, '\0');
    uchar *bytes = reinterpret_cast<uchar *>(field.data());
    qToLittleEndian<quint16>(kNtfsTag, bytes);
    qToLittleEndian<quint16>(quint16(kNtfsBlockSize), bytes + 2);
    // 4 reserved bytes, then the one attribute: the three times.
    qToLittleEndian<quint16>(kNtfsTimesTag, bytes + kExtraBlockHeaderSize + 4);
    qToLittleEndian<quint16>(kNtfsTimesSize, bytes + kExtraBlockHeaderSize + 6);
    for (int at = kExtraBlockHeaderSize + kNtfsTimesAt; at < field.size(); at += 8)
        qToLittleEndian<quint64>(quint64(time), bytes + at);
    return field;
}

ZipEntryWriter::ZipEntryWriter(QuaZip &zip, QIODevice &archive)
    : m_zip(zip)
    , m_archive(archive)
{
}

// The entry takes the raw Deflate stream: its CRC and 64-bit size are given at its close.
bool ZipEntryWriter::open(const QuaZipNewInfo &info, const QByteArray &name, qint64 exactModified, bool zip64,
                          qint64 indexedSize)
{
    const QByteArray extra = exactModified >= 0 ? ntfsTimeField(exactModified) : QByteArray();
    // minizip puts its ZIP64 field after the name and the extra field it is given.
    m_zip64FieldAt = zip64 ? kLocalSize + name.size() + extra.size() : -1;
    m_written = 0;
    m_blocks = 0;
    m_blockStarts.clear();
    m_centralAt = -1;
    m_index.reset();
    if (indexedSize >= 0)
        m_index.emplace(quint64(indexedSize));
    // The index in the central header alone; minizip appends a central ZIP64 field after it.
    const QByteArray centralExtra = m_index ? extra + m_index->field({}) : extra;
    m_nameToIndexEnd = name + centralExtra;
    const zip_fileinfo fileInfo = zipInfo(info);
    zipSetFlags(m_zip.getZipFile(), ZIP_WRITE_DATA_DESCRIPTOR);
    return zipOpenNewFileInZip4_64(m_zip.getZipFile(), name.constData(), &fileInfo, extra.constData(),
                                   uInt(extra.size()), centralExtra.constData(), uInt(centralExtra.size()),
                                   nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8,
                                   Z_DEFAULT_STRATEGY, nullptr, 0, (uLong(m_zip.getOsCode()) << 8) | kZip30, 0,
                                   zip64 ? 1 : 0)
        == ZIP_OK;
}

bool ZipEntryWriter::write(const QByteArray &deflated)
{
    if (m_index && m_index->isListed(m_blocks))
        m_blockStarts.append(quint64(m_written));
    ++m_blocks;
    m_written += deflated.size();
    return zipWriteInFileInZip(m_zip.getZipFile(), deflated.constData(), uint(deflated.size())) == ZIP_OK;
}

bool ZipEntryWriter::close(qint64 size, quint32 crc)
{
    if (zipCloseFileInZipRaw64(m_zip.getZipFile(), quint64(size), crc) != ZIP_OK
        || (m_zip64FieldAt >= 0 && !fillLocalZip64Sizes(size)))
        return false;
    // zip's close writes the central directory from here.
    m_centralAt = m_archive.pos();
    return true;
}

bool ZipEntryWriter::fillBlockIndex()
{
    if (!m_index)
        return true;
    if (m_blockStarts.size() != m_index->listedCount() || m_centralAt < 0)
        return false;
    const qint64 end = m_archive.pos();
    const qint64 size = kCentralSize + m_nameToIndexEnd.size();
    if (!m_archive.seek(m_centralAt))
        return false;
    const QByteArray written = m_archive.read(size);
    if (written.size() != size || qFromLittleEndian<quint32>(written.constData()) != kCentralSignature
        || written.mid(kCentralSize) != m_nameToIndexEnd)
        return false;
    const QByteArray field = m_index->field(m_blockStarts);
    return m_archive.seek(m_centralAt + size - field.size()) && m_archive.write(field) == field.size()
        && m_archive.seek(end);
}

// minizip fills the local ZIP64 field's sizes only once one reaches 4 GiB and leaves them
// 0 below, which 7-Zip reports as a header error: they go in here, the same where it did.
bool ZipEntryWriter::fillLocalZip64Sizes(qint64 size)
{
    uchar sizes[16];
    qToLittleEndian<quint64>(quint64(size), sizes);
    qToLittleEndian<quint64>(quint64(m_written), sizes + 8);
    const qint64 end = m_archive.pos();
    // The field: its ID and length (2 bytes each), then the two sizes.
    return m_archive.seek(m_zip64FieldAt + kExtraBlockHeaderSize)
        && m_archive.write(reinterpret_cast<const char *>(sizes), sizeof sizes) == qint64(sizeof sizes)
        && m_archive.seek(end);
}
