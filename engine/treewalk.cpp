#include "treewalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <dirent.h>
#endif

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
    // An empty list is also what Qt gives for a directory it could not open.
    if (entries.isEmpty()) {
        const QString reason = unreadableReason(directory);
        if (!reason.isEmpty() && m_visitor.unreadableDirectory)
            m_visitor.unreadableDirectory(directory, reason);
        return;
    }
    for (const QFileInfo &entry : entries) {
        if (m_visitor.stopped())
            return;
        if (entry.isDir())
            walk(entry.filePath());
        else if (entry.isFile() && entry.filePath().endsWith(m_suffix, Qt::CaseInsensitive))
            m_visitor.matchingFile(entry.filePath());
    }
}

QString TreeWalk::unreadableReason(const QString &directory)
{
#ifdef Q_OS_WIN
    WIN32_FIND_DATAW found;
    const std::wstring pattern = QDir::toNativeSeparators(QDir(directory).filePath(QStringLiteral("*"))).toStdWString();
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return QString();
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? QString() : qt_error_string(int(error));
#else
    DIR *opened = ::opendir(QFile::encodeName(directory).constData());
    if (opened) {
        ::closedir(opened);
        return QString();
    }
    return qt_error_string(errno);
#endif
}
