#include "zipentryreader.h"

#include "blockindex.h"
#include "zipformat.h"

#include <quazipfileinfo.h>

#include <QFile>
#include <QMap>
#include <QtEndian>

#include <algorithm>
#include <limits>

using namespace ZipFormat;

namespace {

// One entry's central record at most: name, extra field and comment take up to 64 KiB each.
constexpr qint64 kMaxCentralSize = kCentralSize + 3 * 0xFFFF;
// The most an archive comment can add after the end record, and a tar block of padding.
constexpr qint64 kMaxCommentSize = 0xFFFF;
constexpr qint64 kMaxPaddingSize = 10240;
// The highest version needed (6.3) that the ZIP format has defined.
constexpr int kMaxNeeded = 63;

quint16 u16(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 u32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

quint64 u64(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint64>(bytes.constData() + at);
}

QString problem(const char *where, const QString &check)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(where), check);
}

// What the other readers would read too, but this program never writes.
QString foreign(const char *where, const QString &what)
{
    return problem(where, what + QStringLiteral(", not an archive of this program"));
}

// Where the end records place the central directory, and where they begin.
struct Directory
{
    quint64 entries = 0;
    quint64 size = 0;
    quint64 offset = 0;
    qint64 endRecordsAt = 0;
};

// The entry as one of its headers describes it.
struct Header
{
    quint16 versionNeeded = 0;
    quint16 flags = 0;
    quint16 method = 0;
    quint32 dosTime = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 size = 0;
    quint64 localOffset = 0; // central: where the local header begins
    quint64 dataOffset = 0;  // local: where the entry's data begin
    QByteArray name;
    QByteArray zip64;
    bool hasZip64 = false;
    qint64 modified = -1;
    QByteArray blockIndex; // central: the block index field's data
    bool hasBlockIndex = false;
};

bool readAt(QFile &file, qint64 at, qint64 size, QByteArray &bytes)
{
    if (at < 0 || !file.seek(at))
        return false;
    bytes = file.read(size);
    return bytes.size() == size;
}

// The blocks of an extra field by tag; false when one runs past the field (QuaZip's split
// then stops short of its end) or, strictly, comes twice or is none the writer writes there.
bool splitExtra(const QByteArray &extra, bool strict, bool central, QMap<quint16, QByteArray> &blocks)
{
    const QuaExtraFieldHash split = QuaZipFileInfo64::parseExtraField(extra);
    int splitSize = 0;
    for (auto tag = split.cbegin(); tag != split.cend(); ++tag) {
        const bool ours = tag.key() == kZip64Tag || tag.key() == kNtfsTag || (central && tag.key() == kBlockIndexTag);
        if (strict && (tag.value().size() != 1 || !ours))
            return false;
        blocks.insert(tag.key(), tag.value().first());
        for (const QByteArray &block : tag.value())
            splitSize += kExtraBlockHeaderSize + block.size();
    }
    return splitSize == extra.size();
}

// The modification time of an NTFS block exactly as the writer makes it (4 reserved bytes,
// then the one attribute of three equal times); -1 for any other.
qint64 ntfsModified(const QByteArray &block)
{
    if (block.size() != kNtfsBlockSize || u32(block, 0) != 0 || u16(block, 4) != kNtfsTimesTag
        || u16(block, 6) != kNtfsTimesSize)
        return -1;
    const quint64 time = u64(block, kNtfsTimesAt);
    if (time > quint64(std::numeric_limits<qint64>::max()) || u64(block, kNtfsTimesAt + 8) != time
        || u64(block, kNtfsTimesAt + 16) != time)
        return -1;
    return qint64(time);
}

// Any writer's NTFS block: the modification time, the first of its times attribute's three,
// wherever that attribute stands among others; -1 without one.
qint64 anyNtfsModified(const QByteArray &block)
{
    for (int at = 4; at + 4 <= block.size(); at += 4 + u16(block, at + 2)) {
        if (u16(block, at) == kNtfsTimesTag && u16(block, at + 2) >= kNtfsTimesSize && at + 12 <= block.size()) {
            const quint64 time = u64(block, at + 4);
            return time > quint64(std::numeric_limits<qint64>::max()) ? -1 : qint64(time);
        }
    }
    return -1;
}

// Name and extra field stand after the fixed part of either header.
bool readNameAndExtra(const QByteArray &bytes, int at, int nameSize, int extraSize, bool strict, bool central,
                      Header &header)
{
    header.name = bytes.mid(at, nameSize);
    QMap<quint16, QByteArray> blocks;
    if (!splitExtra(bytes.mid(at + nameSize, extraSize), strict, central, blocks))
        return false;
    header.hasZip64 = blocks.contains(kZip64Tag);
    header.zip64 = blocks.value(kZip64Tag);
    header.hasBlockIndex = blocks.contains(kBlockIndexTag);
    header.blockIndex = blocks.value(kBlockIndexTag);
    if (!blocks.contains(kNtfsTag))
        return true;
    header.modified = strict ? ntfsModified(blocks.value(kNtfsTag)) : anyNtfsModified(blocks.value(kNtfsTag));
    return !strict || header.modified >= 0;
}

// The fields both headers have; the central header's stand 2 bytes further on.
void readShared(const QByteArray &bytes, int shift, Header &header)
{
    header.versionNeeded = u16(bytes, shift + 4);
    header.flags = u16(bytes, shift + 6);
    header.method = u16(bytes, shift + 8);
    header.dosTime = u32(bytes, shift + 10);
    header.crc = u32(bytes, shift + 14);
    header.compressedSize = u32(bytes, shift + 18);
    header.size = u32(bytes, shift + 22);
}

// Encryption and methods other than stored and Deflate make an archive no reader of this
// program can read, in either header.
QString readableEntry(const char *where, const Header &header)
{
    if (header.flags & kEncryptionFlags)
        return foreign(where, QStringLiteral("encrypted"));
    if (header.method != kStored && header.method != kDeflate)
        return foreign(where, QStringLiteral("method %1").arg(header.method));
    return QString();
}

// The writer's local ZIP64 block holds both sizes, always; a size that fits stands in the
// fixed part as well, and the two must agree. Another writer's block gives the sizes the
// fixed part defers to it.
bool readLocalZip64(Header &header, bool strict)
{
    if (!strict) {
        if (header.hasZip64 && header.zip64.size() >= 16) {
            header.size = header.size == kNo32 ? u64(header.zip64, 0) : header.size;
            header.compressedSize = header.compressedSize == kNo32 ? u64(header.zip64, 8) : header.compressedSize;
        }
        return true;
    }
    if (!header.hasZip64)
        return header.size != kNo32 && header.compressedSize != kNo32;
    if (header.zip64.size() != 16)
        return false;
    const quint64 size = u64(header.zip64, 0);
    const quint64 compressedSize = u64(header.zip64, 8);
    if ((header.size != kNo32 && header.size != size)
        || (header.compressedSize != kNo32 && header.compressedSize != compressedSize))
        return false;
    header.size = size;
    header.compressedSize = compressedSize;
    return true;
}

// A central header's ZIP64 block holds, in order, just the values that do not fit; strictly,
// not a byte more, and no block where nothing needs it.
bool readCentralZip64(Header &header, bool strict)
{
    int at = 0;
    for (quint64 *value : {&header.size, &header.compressedSize, &header.localOffset}) {
        if (*value != kNo32)
            continue;
        if (at + 8 > header.zip64.size())
            return false;
        *value = u64(header.zip64, at);
        at += 8;
    }
    return !strict || (at == header.zip64.size() && header.hasZip64 == (at > 0));
}

// The versions and attributes the writer gives the central header: an entry that needed the
// ZIP64 block there gets minizip's own.
bool centralAsWritten(const QByteArray &bytes, const Header &header)
{
    const bool large = header.hasZip64;
    return u16(bytes, 4) == (large ? kZip64Version : kMadeBy)
        && header.versionNeeded == (large ? kZip64Version : kNeeded) && u16(bytes, 36) == 0;
}

// The local header's version follows its name's flag; the flags are the data descriptor's
// and the name's, nothing else (no encryption, no other Deflate option, no patch data).
bool localAsWritten(const Header &local)
{
    const quint16 flags = local.flags & ~kUtf8Flag;
    const quint16 needed = (local.flags & kUtf8Flag) ? kUtf8Needed : local.hasZip64 ? kZip64Version : kNeeded;
    return flags == kDescriptorFlag && local.versionNeeded == needed && local.method == kDeflate;
}

// The first field in which the local header differs from the central one; empty when none.
// Another writer's local header may leave its CRC and sizes to a data descriptor, and its
// time and flags (encryption apart, which either header refuses) are the central header's.
QString differingField(const Header &local, const Header &central, bool strict)
{
    const bool described = !strict && (local.flags & kDescriptorFlag);
    const std::pair<const char *, bool> fields[] = {
        {"name", local.name == central.name},
        {"method", local.method == central.method},
        {"flags", !strict || local.flags == central.flags},
        {"DOS time", !strict || local.dosTime == central.dosTime},
        {"CRC-32", described || local.crc == central.crc},
        {"compressed size", described || local.compressedSize == central.compressedSize},
        {"size", described || local.size == central.size},
        {"NTFS time", !strict || local.modified == central.modified},
    };
    for (const auto &field : fields) {
        if (!field.second)
            return QLatin1String(field.first);
    }
    return QString();
}

// The block index, once the sizes are known; strictly, nothing but a valid one, while any
// writer's broken one only leaves the entry without an index.
QString readBlockIndex(Header &header, bool strict, QVector<quint64> &starts)
{
    starts.clear();
    if (!header.hasBlockIndex)
        return QString();
    if (BlockIndex(header.size).read(header.blockIndex, header.compressedSize, starts))
        return QString();
    header.hasBlockIndex = false;
    return strict ? problem("central header", QStringLiteral("a block index this program never writes")) : QString();
}

QString readCentral(const QByteArray &bytes, bool strict, Header &header)
{
    if (u32(bytes, 0) != kCentralSignature)
        return problem("central header", QStringLiteral("none where the end record points"));
    const int nameSize = u16(bytes, 28);
    const int extraSize = u16(bytes, 30);
    const int commentSize = u16(bytes, 32);
    if (kCentralSize + nameSize + extraSize + commentSize != bytes.size())
        return problem("central header", QStringLiteral("its size is not the central directory's"));
    if (u16(bytes, 34) != 0)
        return problem("central header", QStringLiteral("the entry starts on another disk"));
    if (strict && commentSize != 0)
        return problem("central header", QStringLiteral("an entry comment, which this program never writes"));
    readShared(bytes, 2, header);
    header.localOffset = u32(bytes, 42);
    QString unreadable = readableEntry("central header", header);
    if (!unreadable.isEmpty())
        return unreadable;
    if (!readNameAndExtra(bytes, kCentralSize, nameSize, extraSize, strict, true, header))
        return problem("central header", QStringLiteral("a broken extra field, or one this program never writes"));
    if (!readCentralZip64(header, strict))
        return problem("central header", QStringLiteral("a broken ZIP64 field"));
    if (strict && !centralAsWritten(bytes, header))
        return problem("central header", QStringLiteral("versions or attributes this program never writes"));
    if ((header.versionNeeded & 0xFF) > kMaxNeeded)
        return problem("central header", QStringLiteral("version needed %1.%2")
                                             .arg((header.versionNeeded & 0xFF) / 10)
                                             .arg((header.versionNeeded & 0xFF) % 10));
    return QString();
}

QString readLocal(QFile &file, bool strict, Header &header)
{
    QByteArray fixed;
    const qint64 at = qint64(std::min<quint64>(header.localOffset, quint64(file.size())));
    if (!readAt(file, at, kLocalSize, fixed) || u32(fixed, 0) != kLocalSignature)
        return problem("local header", QStringLiteral("none where the central header points"));
    readShared(fixed, 0, header);
    const int nameSize = u16(fixed, 26);
    const int extraSize = u16(fixed, 28);
    QByteArray variable;
    if (!readAt(file, at + kLocalSize, nameSize + extraSize, variable))
        return problem("local header", QStringLiteral("cut short"));
    if (!readNameAndExtra(variable, 0, nameSize, extraSize, strict, false, header) || !readLocalZip64(header, strict))
        return problem("local header", QStringLiteral("a broken extra field, or one this program never writes"));
    header.dataOffset = quint64(at + kLocalSize + nameSize + extraSize);
    return readableEntry("local header", header);
}

// The end record: strictly the file's last 22 bytes; any writer's may have an archive
// comment after it, and zeros after that (bsdtar pads what it writes into a pipe to its
// blocks), so the file's last 64 KiB are searched for it from their end.
QString findEndRecord(QFile &file, bool strict, QByteArray &end, qint64 &endAt)
{
    const qint64 length = file.size();
    const qint64 span = std::min(length, kEndSize + (strict ? 0 : kMaxCommentSize + kMaxPaddingSize));
    QByteArray tail;
    if (length < kEndSize || !readAt(file, length - span, span, tail))
        return problem("end record", QStringLiteral("the file is too short for one"));
    for (int at = int(span) - kEndSize; at >= 0; --at) {
        const int after = at + kEndSize + u16(tail, at + 20);
        if (u32(tail, at) == kEndSignature && after <= span
            && (after == span || (!strict && tail.mid(after).count('\0') == span - after))) {
            end = tail.mid(at, kEndSize);
            endAt = length - span + at;
            return QString();
        }
    }
    return problem("end record", strict ? QStringLiteral("none at the file's end, or an archive comment")
                                        : QStringLiteral("none in the file's last 64 KiB"));
}

// The ZIP64 end record the locator before the end record points to; strictly, right before
// the locator and as minizip writes it, else with any versions and extensible data.
QString readZip64EndRecords(QFile &file, const QByteArray &locator, const QByteArray &end, bool strict,
                            Directory &directory)
{
    const qint64 locatorAt = directory.endRecordsAt;
    const quint64 recordAt = u64(locator, 8);
    QByteArray record;
    if (u32(locator, 4) != 0 || (u32(locator, 16) != 1 && (strict || u32(locator, 16) != 0))
        || (strict && recordAt != quint64(locatorAt - kZip64EndSize)) || recordAt > quint64(locatorAt)
        || !readAt(file, qint64(recordAt), kZip64EndSize, record))
        return problem("ZIP64 locator", QStringLiteral("points elsewhere"));
    if (u32(record, 0) != kZip64EndSignature || u64(record, 4) + 12 != quint64(locatorAt) - recordAt
        || (strict && (u64(record, 4) != kZip64EndRecordSize || u16(record, 12) != kZip64Version
                       || u16(record, 14) != kZip64Version))
        || u32(record, 16) != 0 || u32(record, 20) != 0 || u64(record, 24) != u64(record, 32))
        return problem("ZIP64 end record", QStringLiteral("broken"));
    directory.entries = u64(record, 32);
    directory.size = u64(record, 40);
    directory.offset = u64(record, 48);
    directory.endRecordsAt = qint64(recordAt);
    // The end record may only defer to the ZIP64 record, not contradict it.
    const quint16 entries = u16(end, 10);
    const quint32 size = u32(end, 12);
    const quint32 offset = u32(end, 16);
    if ((entries != kNo16 && entries != directory.entries) || (size != kNo32 && size != directory.size)
        || (offset != kNo32 && offset != directory.offset))
        return problem("ZIP64 end record", QStringLiteral("disagrees with the end record"));
    return QString();
}

QString readEndRecords(QFile &file, bool strict, Directory &directory)
{
    QByteArray end;
    qint64 endAt = 0;
    QString problemFound = findEndRecord(file, strict, end, endAt);
    if (!problemFound.isEmpty())
        return problemFound;
    if (u16(end, 4) != 0 || u16(end, 6) != 0 || u16(end, 8) != u16(end, 10))
        return problem("end record", QStringLiteral("the archive spans several disks"));
    QByteArray locator;
    if (endAt >= kZip64LocatorSize && readAt(file, endAt - kZip64LocatorSize, kZip64LocatorSize, locator)
        && u32(locator, 0) == kZip64LocatorSignature) {
        directory.endRecordsAt = endAt - kZip64LocatorSize;
        return readZip64EndRecords(file, locator, end, strict, directory);
    }
    directory.entries = u16(end, 10);
    directory.size = u32(end, 12);
    directory.offset = u32(end, 16);
    directory.endRecordsAt = endAt;
    if (directory.entries == kNo16 || directory.size == kNo32 || directory.offset == kNo32)
        return problem("end record", QStringLiteral("ZIP64 values without a ZIP64 end record"));
    return QString();
}

QString checkDirectory(const Directory &directory)
{
    if (directory.entries > 1)
        return foreign("central directory", QStringLiteral("more than one entry"));
    if (directory.entries != 1 || directory.size < quint64(kCentralSize) || directory.size > quint64(kMaxCentralSize)
        || directory.offset > quint64(directory.endRecordsAt)
        || directory.offset + directory.size != quint64(directory.endRecordsAt))
        return problem("central directory", QStringLiteral("not one entry right before the end records"));
    return QString();
}

// The data descriptor fills the gap between the data and the central directory: its
// signature (which other writers may leave out), the CRC-32 and both sizes, 4 bytes each or 8
// with ZIP64; this writer's has the signature and 8-byte sizes where its local header has a
// ZIP64 block. Without one the central directory follows the data.
QString readDescriptor(QFile &file, qint64 at, qint64 gap, const Header &local, const Header &central, bool strict)
{
    if (!(local.flags & kDescriptorFlag))
        return gap == 0 ? QString() : problem("central directory", QStringLiteral("not right after the entry's data"));
    const bool withSignature = gap == 16 || gap == 24;
    const bool wide = gap == 20 || gap == 24;
    QByteArray bytes;
    if ((gap != 12 && !withSignature && !wide) || !readAt(file, at, gap, bytes))
        return problem("data descriptor", QStringLiteral("not the gap between the data and the central directory"));
    if ((withSignature && u32(bytes, 0) != kDescriptorSignature)
        || (strict && (!withSignature || wide != local.hasZip64)))
        return problem("data descriptor", QStringLiteral("not as this program writes it"));
    const int shift = withSignature ? 4 : 0;
    if (u32(bytes, shift) != central.crc)
        return problem("data descriptor", QStringLiteral("CRC-32 differs from the central header's"));
    const quint64 compressedSize = wide ? u64(bytes, shift + 4) : u32(bytes, shift + 4);
    const quint64 size = wide ? u64(bytes, shift + 12) : u32(bytes, shift + 8);
    if (compressedSize != central.compressedSize || size != central.size)
        return problem("data descriptor", QStringLiteral("sizes differ from the central header's"));
    return QString();
}

QDateTime dosDateTime(quint32 dos)
{
    const QDate date(1980 + int(dos >> 25), int(dos >> 21) & 15, int(dos >> 16) & 31);
    const QTime time(int(dos >> 11) & 31, int(dos >> 5) & 63, 2 * (int(dos) & 31));
    return QDateTime(date, time);
}

} // namespace

ZipEntryReader::ZipEntryReader(QFile &file, Strictness strictness)
    : m_strict(strictness == Strictness::ThisProgram)
{
    read(file);
}

// Reads the end records, then the central directory they point to, then the local header
// and the data descriptor, each a bounded read at a place the one before has fixed.
bool ZipEntryReader::read(QFile &file)
{
    Directory directory;
    QString problemFound = readEndRecords(file, m_strict, directory);
    if (problemFound.isEmpty())
        problemFound = checkDirectory(directory);
    if (!problemFound.isEmpty())
        return fail(problemFound);

    QByteArray centralBytes;
    if (!readAt(file, qint64(directory.offset), qint64(directory.size), centralBytes))
        return fail(problem("central directory", QStringLiteral("cut short")));
    Header central;
    Header local;
    problemFound = readCentral(centralBytes, m_strict, central);
    if (problemFound.isEmpty())
        problemFound = readBlockIndex(central, m_strict, m_entry.blockStarts);
    if (problemFound.isEmpty() && m_strict && central.localOffset != 0)
        problemFound = problem("central header", QStringLiteral("the local header is not at the file's start"));
    if (problemFound.isEmpty()) {
        local.localOffset = central.localOffset;
        problemFound = readLocal(file, m_strict, local);
    }
    if (!problemFound.isEmpty())
        return fail(problemFound);
    const QString differing = differingField(local, central, m_strict);
    if (!differing.isEmpty())
        return fail(problem("local header", differing + QStringLiteral(" differs from the central header's")));
    if (m_strict && !localAsWritten(local))
        return fail(problem("local header", QStringLiteral("flags, versions or a method this program never writes")));

    // Data, then the descriptor if any, fill the file up to the central directory.
    if (central.compressedSize > directory.offset - std::min(directory.offset, local.dataOffset))
        return fail(problem("central header", QStringLiteral("the entry's data run past the central directory")));
    const qint64 dataEnd = qint64(local.dataOffset + central.compressedSize);
    problemFound = readDescriptor(file, dataEnd, qint64(directory.offset) - dataEnd, local, central, m_strict);
    if (!problemFound.isEmpty())
        return fail(problemFound);

    m_entry.rawName = central.name;
    m_entry.utf8Name = central.flags & kUtf8Flag;
    m_entry.name = m_entry.utf8Name ? QString::fromUtf8(central.name) : QFile::decodeName(central.name);
    m_entry.method = central.method;
    m_entry.size = central.size;
    m_entry.modified = central.modified;
    m_entry.dosTime = dosDateTime(central.dosTime);
    m_entry.dataOffset = qint64(local.dataOffset);
    m_entry.compressedSize = central.compressedSize;
    m_entry.crc = central.crc;
    m_entry.blockStride = central.hasBlockIndex ? quint32(BlockIndex(central.size).stride()) : 0;
    m_entry.blockSizeLog2 = central.hasBlockIndex ? BlockIndex::kSizeLog2 : 0;
    return true;
}

bool ZipEntryReader::fail(const QString &reason)
{
    m_errorString = reason;
    m_entry = Entry();
    return false;
}
