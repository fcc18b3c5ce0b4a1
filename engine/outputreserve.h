#ifndef OUTPUTRESERVE_H
#define OUTPUTRESERVE_H

#include "jobsettings.h"

#include <QStorageInfo>
#include <QString>

// The free space a job leaves on the output volume, which is often the database's own disk:
// an archive that would take the volume below it is not written, so that the database's log
// can still grow. Asked before each archive and before each block is written.
class OutputReserve
{
public:
    OutputReserve(const QString &outputDir, const JobSettings::Reserve &reserve);

    // Whether bytes more may be written now. A volume whose space cannot be read allows
    // everything: the writes themselves then fail with the system's reason.
    bool allows(qint64 bytes);
    // Why allows() refused: the volume, its free space, the reserve.
    QString reason() const { return m_reason; }

private:
    QStorageInfo m_volume;
    const JobSettings::Reserve m_setting;
    QString m_reason;
};

#endif // OUTPUTRESERVE_H
