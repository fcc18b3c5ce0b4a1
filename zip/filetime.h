#ifndef FILETIME_H
#define FILETIME_H

#include <QString>

class QDateTime;
class QFileDevice;

// File times as NTFS keeps them: 100-ns intervals since 1601-01-01 UTC.
class FileTime
{
public:
    // The last modification of path as exactly as its file system keeps it (to 100 ns);
    // -1 when it cannot be read or lies before 1601.
    static qint64 exactModification(const QString &path);
    // Sets the last modification of the open file to time, as exactly as its file system
    // keeps it; false with the system's reason.
    static bool setModification(QFileDevice &file, qint64 time, QString *reason);
    // A moment in 100 ns since 1601, to its millisecond; -1 for an invalid one.
    static qint64 fromDateTime(const QDateTime &time);
};

#endif // FILETIME_H
