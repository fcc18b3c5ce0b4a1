#ifndef LASTSUCCESSFILE_H
#define LASTSUCCESSFILE_H

#include "jobreport.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// halcyon-last-success.txt in the output directory, for monitoring that watches a file's age:
// written anew after each job in which no archive failed and at least one backup was met
// (written or unchanged), and left as it was after any other, so that its age is the time
// since the last good night even when nothing changed. One "key=value" a line.
class LastSuccessFile
{
public:
    static constexpr char kFileName[] = "halcyon-last-success.txt";

    // Whether the job that report tells of earns the file.
    static bool earnedBy(const JobReport &report);
    // Written whole into the report's output directory (the job still holding its lock),
    // replacing whatever stood at the name; false with the system's reason.
    static bool write(const JobReport &report, const QDateTime &ended, QString *reason);
    static QByteArray text(const JobReport &report, const QDateTime &ended);
};

#endif // LASTSUCCESSFILE_H
