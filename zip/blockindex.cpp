#include "blockindex.h"

#include "zipformat.h"

#include <QtEndian>

#include <algorithm>

BlockIndex::BlockIndex(quint64 size)
{
    constexpr quint64 blockSize = quint64(1) << kSizeLog2;
    const quint64 blocks = size / blockSize + (size % blockSize ? 1 : 0);
    if (blocks <= 1)
        return;
    // Block 0 starts at 0 and goes unlisted; of the others every k-th, at most kMaxListed.
    m_stride = std::max<quint64>(1, (blocks - 1 + kMaxListed - 1) / kMaxListed);
    m_listed = int((blocks - 1) / m_stride);
}

bool BlockIndex::isListed(quint64 block) const
{
    return block > 0 && block % m_stride == 0 && block / m_stride <= quint64(m_listed);
}

QByteArray BlockIndex::field(const QVector<quint64> &starts) const
{
    const int dataSize = kFixedSize + 8 * m_listed;
    QByteArray field(ZipFormat::kExtraBlockHeaderSize + dataSize, '\0');
    uchar *bytes = reinterpret_cast<uchar *>(field.data());
    qToLittleEndian<quint16>(ZipFormat::kBlockIndexTag, bytes);
    qToLittleEndian<quint16>(quint16(dataSize), bytes + 2);
    uchar *data = bytes + ZipFormat::kExtraBlockHeaderSize;
    data[0] = kVersion;
    data[1] = kSizeLog2;
    qToLittleEndian<quint32>(quint32(m_stride), data + 2);
    for (int i = 0; i < std::min(m_listed, starts.size()); ++i)
        qToLittleEndian<quint64>(starts[i], data + kFixedSize + 8 * i);
    return field;
}

bool BlockIndex::read(const QByteArray &data, quint64 compressedSize, QVector<quint64> &starts) const
{
    const uchar *bytes = reinterpret_cast<const uchar *>(data.constData());
    if (data.size() != kFixedSize + 8 * m_listed || bytes[0] != kVersion || bytes[1] != kSizeLog2
        || qFromLittleEndian<quint32>(bytes + 2) != m_stride)
        return false;
    QVector<quint64> listed;
    quint64 previous = 0; // block 0's
    for (int i = 0; i < m_listed; ++i) {
        const quint64 start = qFromLittleEndian<quint64>(bytes + kFixedSize + 8 * i);
        if (start <= previous || start >= compressedSize)
            return false;
        listed.append(start);
        previous = start;
    }
    starts = listed;
    return true;
}
