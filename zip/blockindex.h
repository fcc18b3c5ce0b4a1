#ifndef BLOCKINDEX_H
#define BLOCKINDEX_H

#include <QByteArray>
#include <QVector>

// Where the entry's Deflate blocks start, so that a reader can inflate them side by side: the
// writer's stream is made of blocks of 2^kSizeLog2 source bytes that each inflate on their own.
// It is an extra field of the central header alone (ZipFormat::kBlockIndexTag): u8 version,
// u8 log2 of the block size, u32 stride k, then the compressed offsets (u64, from the entry's
// first data byte) of blocks k, 2k, 3k, ..., at most kMaxListed of them. Its size follows from
// the entry's size alone, so the writer reserves it before the offsets are known.
class BlockIndex
{
public:
    static constexpr int kVersion = 1;
    static constexpr int kSizeLog2 = 22;
    static constexpr quint64 kMaxListed = 512;
    // Version, log2 and stride before the offsets.
    static constexpr int kFixedSize = 6;

    // The index of an entry of size bytes.
    explicit BlockIndex(quint64 size);

    quint64 stride() const { return m_stride; }
    int listedCount() const { return m_listed; }
    // True for the blocks whose offsets are listed: k, 2k, ... up to listedCount() of them.
    bool isListed(quint64 block) const;

    // The whole field, tag and size too, with starts as its offsets, zeros for any missing.
    QByteArray field(const QVector<quint64> &starts) const;
    // The offsets in data, the field's data, when it is exactly this entry's index: the
    // version, block size, stride and count that its size gives, offsets strictly increasing
    // and below compressedSize. False for anything else.
    bool read(const QByteArray &data, quint64 compressedSize, QVector<quint64> &starts) const;

private:
    quint64 m_stride = 1;
    int m_listed = 0;
};

#endif // BLOCKINDEX_H
