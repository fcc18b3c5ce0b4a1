#include "treewalk.h"

#include <QDir>
#include <QFileInfo>

TreeWalk::TreeWalk(const QString &suffix, Visitor visitor)
    : m_suffix(suffix)
    , m_visitor(std::move(visitor))
{
}

void TreeWalk::walk(const QString &directory)
{
    if (!QDir(directory).exists()) {
        m_visitor.missingDirectory(directory);
        return;
    }
    const QString canonical = QFileInfo(directory).canonicalFilePath();
    if (m_chain.contains(canonical))
        return;
    m_chain.append(canonical);
    walkEntries(directory);
    m_chain.removeLast();
}

void TreeWalk::walkEntries(const QString &directory)
{
    QDir dir(directory);
    dir.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QFileInfoList entries = dir.entryInfoList(QDir::NoFilter, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        if (m_visitor.stopped())
            return;
        if (entry.isDir())
            walk(entry.filePath());
        else if (entry.isFile() && entry.filePath().endsWith(m_suffix, Qt::CaseInsensitive))
            m_visitor.matchingFile(entry.filePath());
    }
}
