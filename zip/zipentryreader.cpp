#include "zipentryreader.h"

#include "zipformat.h"

#include <quazipfileinfo.h>

#include <QFile>
#include <QMap>
#include <QtEndian>

#include <limits>

using namespace ZipFormat;

namespace {

// One entry's central record at most: name, extra field and comment take up to 64 KiB each.
constexpr qint64 kMaxCentralSize = kCentralSize + 3 * 0xFFFF;

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

// Where the end records place the central directory, and how much they take.
struct Directory
{
    quint64 entries = 0;
    quint64 size = 0;
    quint64 offset = 0;
    qint64 endRecordsSize = kEndSize;
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

    bool agreesWith(const Header &other) const
    {
        return flags == other.flags && method == other.method && dosTime == other.dosTime
            && crc == other.crc && compressedSize == other.compressedSize && size == other.size
            && name == other.name && modified == other.modified;
    }
};

bool readAt(QFile &file, qint64 at, qint64 size, QByteArray &bytes)
{
    if (!file.seek(at))
        return false;
    bytes = file.read(size);
    return bytes.size() == size;
}

// The blocks of an extra field by tag; false when one runs past the field (QuaZip's split
// then stops short of its end), comes twice or is neither of the two the writer writes.
bool splitExtra(const QByteArray &extra, QMap<quint16, QByteArray> &blocks)
{
    const QuaExtraFieldHash split = QuaZipFileInfo64::parseExtraField(extra);
    int splitSize = 0;
    for (auto tag = split.cbegin(); tag != split.cend(); ++tag) {
        if (tag.value().size() != 1 || (tag.key() != kZip64Tag && tag.key() != kNtfsTag))
            return false;
        blocks.insert(tag.key(), tag.value().first());
        splitSize += kExtraBlockHeaderSize + tag.value().first().size();
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

// Name and extra field stand after the fixed part of either header.
bool readNameAndExtra(const QByteArray &bytes, int at, int nameSize, int extraSize, Header &header)
{
    header.name = bytes.mid(at, nameSize);
    QMap<quint16, QByteArray> blocks;
    if (!splitExtra(bytes.mid(at + nameSize, extraSize), blocks))
        return false;
    header.hasZip64 = blocks.contains(kZip64Tag);
    header.zip64 = blocks.value(kZip64Tag);
    header.modified = blocks.contains(kNtfsTag) ? ntfsModified(blocks.value(kNtfsTag)) : -1;
    return !blocks.contains(kNtfsTag) || header.modified >= 0;
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

// A local header's ZIP64 block holds both sizes, always; a size that fits stands in the
// fixed part as well, and the two must agree.
bool readLocalZip64(Header &header)
{
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

// A central header's ZIP64 block holds, in order, just the values that do not fit.
bool readCentralZip64(Header &header)
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
    // Not a byte more, and no block where nothing needs it.
    return at == header.zip64.size() && header.hasZip64 == (at > 0);
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

QString readCentral(const QByteArray &bytes, Header &header)
{
    if (u32(bytes, 0) != kCentralSignature)
        return QStringLiteral("no central header where the end record points");
    const int nameSize = u16(bytes, 28);
    const int extraSize = u16(bytes, 30);
    const int commentSize = u16(bytes, 32);
    if (kCentralSize + nameSize + extraSize + commentSize != bytes.size())
        return QStringLiteral("the central directory holds more than one entry");
    if (u16(bytes, 34) != 0)
        return QStringLiteral("the entry starts on another disk");
    if (commentSize != 0)
        return QStringLiteral("an entry comment, which this program never writes");
    readShared(bytes, 2, header);
    header.localOffset = u32(bytes, 42);
    if (!readNameAndExtra(bytes, kCentralSize, nameSize, extraSize, header) || !readCentralZip64(header))
        return QStringLiteral("a broken extra field in the central header");
    if (!centralAsWritten(bytes, header))
        return QStringLiteral("versions or attributes this program never writes");
    return QString();
}

QString readLocal(QFile &file, Header &header)
{
    QByteArray fixed;
    if (!readAt(file, 0, kLocalSize, fixed) || u32(fixed, 0) != kLocalSignature)
        return QStringLiteral("no local header at the file's start");
    readShared(fixed, 0, header);
    const int nameSize = u16(fixed, 26);
    const int extraSize = u16(fixed, 28);
    QByteArray variable;
    if (!readAt(file, kLocalSize, nameSize + extraSize, variable))
        return QStringLiteral("the local header is cut short");
    if (!readNameAndExtra(variable, 0, nameSize, extraSize, header) || !readLocalZip64(header))
        return QStringLiteral("a broken extra field in the local header");
    header.dataOffset = quint64(kLocalSize + nameSize + extraSize);
    return QString();
}

// The ZIP64 end record and its locator before the end record: tail holds exactly these.
QString readZip64EndRecords(const QByteArray &tail, qint64 length, Directory &directory)
{
    const int locator = kZip64EndSize;
    const int end = locator + kZip64LocatorSize;
    if (u32(tail, locator + 4) != 0 || u32(tail, locator + 16) != 1
        || u64(tail, locator + 8) != quint64(length - tail.size()))
        return QStringLiteral("the ZIP64 locator points elsewhere");
    if (u32(tail, 0) != kZip64EndSignature || u64(tail, 4) != kZip64EndRecordSize || u16(tail, 12) != kZip64Version
        || u16(tail, 14) != kZip64Version || u32(tail, 16) != 0 || u32(tail, 20) != 0 || u64(tail, 24) != u64(tail, 32))
        return QStringLiteral("a broken ZIP64 end record");
    directory.entries = u64(tail, 32);
    directory.size = u64(tail, 40);
    directory.offset = u64(tail, 48);
    directory.endRecordsSize = tail.size();
    // The end record may only defer to the ZIP64 record, not contradict it.
    const quint16 entries = u16(tail, end + 10);
    const quint32 size = u32(tail, end + 12);
    const quint32 offset = u32(tail, end + 16);
    if ((entries != kNo16 && entries != directory.entries) || (size != kNo32 && size != directory.size)
        || (offset != kNo32 && offset != directory.offset))
        return QStringLiteral("the end record and the ZIP64 end record disagree");
    return QString();
}

// tail: the file's last bytes, room enough for the ZIP64 records.
QString readEndRecords(const QByteArray &tail, qint64 length, Directory &directory)
{
    const int end = tail.size() - kEndSize;
    // No archive comment either: the end record ends the file.
    if (u32(tail, end) != kEndSignature || u16(tail, end + 20) != 0)
        return QStringLiteral("no end record at the file's end");
    if (u16(tail, end + 4) != 0 || u16(tail, end + 6) != 0 || u16(tail, end + 8) != u16(tail, end + 10))
        return QStringLiteral("the archive spans several disks");
    if (u32(tail, end - kZip64LocatorSize) == kZip64LocatorSignature)
        return readZip64EndRecords(tail, length, directory);
    directory.entries = u16(tail, end + 10);
    directory.size = u32(tail, end + 12);
    directory.offset = u32(tail, end + 16);
    if (directory.entries == kNo16 || directory.size == kNo32 || directory.offset == kNo32)
        return QStringLiteral("ZIP64 values without a ZIP64 end record");
    return QString();
}

// The data descriptor after the entry's data, with its signature as the writer writes it;
// its sizes take 8 bytes where the local header has a ZIP64 block.
QString readDescriptor(QFile &file, qint64 at, const Header &local, qint64 &descriptorSize)
{
    const int sizesSize = local.hasZip64 ? 16 : 8;
    QByteArray bytes;
    if (!readAt(file, at, 4, bytes))
        return QStringLiteral("the data descriptor is cut short");
    if (u32(bytes, 0) != kDescriptorSignature)
        return QStringLiteral("no data descriptor after the data");
    const int shift = 4;
    descriptorSize = shift + 4 + sizesSize;
    if (!readAt(file, at, descriptorSize, bytes))
        return QStringLiteral("the data descriptor is cut short");
    const quint64 compressedSize = local.hasZip64 ? u64(bytes, shift + 4) : u32(bytes, shift + 4);
    const quint64 size = local.hasZip64 ? u64(bytes, shift + 12) : u32(bytes, shift + 8);
    if (u32(bytes, shift) != local.crc || compressedSize != local.compressedSize || size != local.size)
        return QStringLiteral("the data descriptor and the headers disagree");
    return QString();
}

} // namespace

ZipEntryReader::ZipEntryReader(QFile &file)
{
    read(file);
}

// Reads the end records, then the central directory they point to, then the local header
// and the data descriptor, each a bounded read at a place the one before has fixed.
bool ZipEntryReader::read(QFile &file)
{
    const qint64 length = file.size();
    constexpr qint64 kTailSize = kZip64EndSize + kZip64LocatorSize + kEndSize;
    QByteArray tail;
    if (length < kTailSize || !readAt(file, length - kTailSize, kTailSize, tail))
        return fail(QStringLiteral("too short for an archive"));
    Directory directory;
    QString problem = readEndRecords(tail, length, directory);
    if (!problem.isEmpty())
        return fail(problem);
    if (directory.entries != 1 || directory.size < quint64(kCentralSize)
        || directory.size > quint64(kMaxCentralSize) || directory.offset > quint64(length)
        || directory.offset + directory.size + quint64(directory.endRecordsSize) != quint64(length))
        return fail(QStringLiteral("not one entry right before the end records"));

    QByteArray centralBytes;
    if (!readAt(file, qint64(directory.offset), qint64(directory.size), centralBytes))
        return fail(QStringLiteral("the central directory is cut short"));
    Header central;
    Header local;
    problem = readCentral(centralBytes, central);
    if (problem.isEmpty())
        problem = readLocal(file, local);
    if (!problem.isEmpty())
        return fail(problem);
    if (central.localOffset != 0 || !local.agreesWith(central))
        return fail(QStringLiteral("the central directory and the local header disagree"));
    if (!localAsWritten(local))
        return fail(QStringLiteral("flags, versions or a method this program never writes"));

    // Data, then the descriptor if any, fill the file up to the central directory.
    if (central.compressedSize > quint64(length))
        return fail(QStringLiteral("the entry's data run past the file's end"));
    const qint64 dataEnd = qint64(local.dataOffset + central.compressedSize);
    qint64 descriptorSize = 0;
    problem = readDescriptor(file, dataEnd, local, descriptorSize);
    if (!problem.isEmpty())
        return fail(problem);
    if (quint64(dataEnd + descriptorSize) != directory.offset)
        return fail(QStringLiteral("the file is not as long as its headers say"));

    m_entry.rawName = central.name;
    m_entry.utf8Name = central.flags & kUtf8Flag;
    m_entry.name = m_entry.utf8Name ? QString::fromUtf8(central.name) : QFile::decodeName(central.name);
    m_entry.method = central.method;
    m_entry.size = central.size;
    m_entry.modified = central.modified;
    return true;
}

bool ZipEntryReader::fail(const QString &reason)
{
    m_errorString = reason;
    m_entry = Entry();
    return false;
}
