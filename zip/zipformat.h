#ifndef ZIPFORMAT_H
#define ZIPFORMAT_H

#include <QtGlobal>

// The parts of the ZIP format that the entry's writer and its reader both know: signatures,
// header sizes, extra field tags, flags and the versions the writer puts in.
namespace ZipFormat {

constexpr quint32 kLocalSignature = 0x04034b50;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr quint32 kDescriptorSignature = 0x08074b50;
constexpr quint32 kEndSignature = 0x06054b50;
constexpr quint32 kZip64EndSignature = 0x06064b50;
constexpr quint32 kZip64LocatorSignature = 0x07064b50;

// The fixed parts of the headers and records.
constexpr int kLocalSize = 30;
constexpr int kCentralSize = 46;
constexpr int kEndSize = 22;
constexpr int kZip64EndSize = 56;
constexpr int kZip64LocatorSize = 20;
constexpr quint64 kZip64EndRecordSize = kZip64EndSize - 12; // as its own size field counts it

// An extra field is a row of blocks, each its tag and size (2 bytes each), then its data.
constexpr int kExtraBlockHeaderSize = 4;
constexpr quint16 kZip64Tag = 0x0001;
constexpr quint16 kNtfsTag = 0x000a;
// The writer's own, in the central header only: where the Deflate blocks start (BlockIndex).
constexpr quint16 kBlockIndexTag = 0x4C48;
// The NTFS block: 4 reserved bytes, then one attribute, its tag and size (2 bytes each)
// before the modification, access and creation time, 8 bytes each.
constexpr quint16 kNtfsTimesTag = 0x0001;
constexpr int kNtfsTimesSize = 24;
constexpr int kNtfsTimesAt = 8; // in the block's data
constexpr int kNtfsBlockSize = kNtfsTimesAt + kNtfsTimesSize;

constexpr quint16 kDescriptorFlag = 0x0008;
// Encrypted data, strongly encrypted data, an encrypted central directory.
constexpr quint16 kEncryptionFlags = 0x0001 | 0x0040 | 0x2000;
constexpr quint16 kUtf8Flag = 0x0800;
constexpr quint16 kStored = 0;
constexpr quint16 kDeflate = 8;

// What the writer puts into the version fields: "made by" ZIP 3.0 on Unix (QuaZip's code on
// every system) and "needed" 2.0; minizip's own 4.5 in both for an entry past 4 GiB, and in
// the ZIP64 end record. The local header needs 6.3 for a name flagged as UTF-8, else 4.5 with
// a ZIP64 block, else 2.0.
constexpr quint16 kZip30 = 0x1E;
constexpr quint16 kMadeBy = 0x0300 | kZip30;
constexpr quint16 kNeeded = 20;
constexpr quint16 kZip64Version = 45;
constexpr quint16 kUtf8Needed = 63;

// A 16- or 32-bit field that defers to the ZIP64 one.
constexpr quint16 kNo16 = 0xFFFF;
constexpr quint32 kNo32 = 0xFFFFFFFF;

} // namespace ZipFormat

#endif // ZIPFORMAT_H
