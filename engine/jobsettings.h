#ifndef JOBSETTINGS_H
#define JOBSETTINGS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the operator may set for the jobs in halcyon.ini, in the working directory beside the
// path files. Read at each job's start and never written. The file is optional; a key that
// is unknown or has a bad value falls back to its default and is named in the system log,
// once a job: nothing in the file stops a job.
//
//     [output]
//     reserve=5%      free space a job leaves on the output volume: 5%, 500M, 20G, 0 (off)
//     [job]
//     threads=4       at most this many compressor threads
class JobSettings
{
public:
    static constexpr char kFileName[] = "halcyon.ini";

    struct Reserve
    {
        enum class Kind { Default, Percent, Bytes };
        Kind kind = Kind::Default;
        double percent = 0;
        qint64 bytes = 0;
        QString written; // as the file has it
        // The free space to leave on a volume of totalBytes.
        qint64 bytesOn(qint64 totalBytes) const;
        // As the operator wrote it, or the default's rule.
        QString text() const;
    };

    // The file at path, with its problems told to the system log in one warning; the
    // defaults where there is none.
    static JobSettings read(const QString &path);
    // The settings a file's text gives, and for each key it cannot take a line saying why.
    static JobSettings parse(const QByteArray &text, QStringList *problems);

    // The compressor threads for a writer: the machine's (ArchiveWriter) up to threads.
    int compressors() const;

    Reserve reserve;
    int threads = 0; // 0: no limit

private:
    void take(const QString &section, const QString &key, const QString &value, QStringList *problems);
};

#endif // JOBSETTINGS_H
