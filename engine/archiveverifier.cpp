#include "archiveverifier.h"

namespace {

EntryInflater::Entry inflaterEntry(const ZipEntryReader::Entry &entry)
{
    EntryInflater::Entry facts;
    facts.method = entry.method;
    facts.size = entry.size;
    facts.crc = entry.crc;
    facts.dataOffset = entry.dataOffset;
    facts.compressedSize = entry.compressedSize;
    facts.blockStride = entry.blockStride;
    facts.blockSizeLog2 = entry.blockSizeLog2;
    facts.blockStarts = entry.blockStarts;
    return facts;
}

} // namespace

ArchiveVerifier::ArchiveVerifier(const QString &archivePath)
    : m_file(archivePath)
{
}

bool ArchiveVerifier::readHeaders()
{
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(m_file.errorString());
    const ZipEntryReader reader(m_file, ZipEntryReader::Strictness::AnyWriter);
    if (!reader.isWhole())
        return fail(reader.errorString());
    m_entry = reader.entry();
    m_headersRead = true;
    return true;
}

bool ArchiveVerifier::inflate(const Sink &sink)
{
    if (!m_headersRead)
        return false;
    EntryInflater inflater;
    if (!inflater.inflate(m_file, inflaterEntry(m_entry), sink))
        return fail(inflater.errorString());
    return true;
}

bool ArchiveVerifier::fail(const QString &reason)
{
    m_error = reason;
    return false;
}
