#ifndef SYSTEMERROR_H
#define SYSTEMERROR_H

#include <QString>

class QIODevice;

// The system's own reason for a file call that failed. QFile takes a short write (a full
// disk) for a success without a reason, and so do the libraries that write through it; the
// system's error, cleared before the call and read right after it, still says why.
class SystemError
{
public:
    // Clears this thread's last system error.
    SystemError();

    // Why a call on device since construction failed: the device's own words where it has
    // any, else the system's, else whatever the device says.
    QString reasonFor(const QIODevice &device) const;
    // The system's text for this thread's last error; empty when there was none.
    static QString last();
    // The system's words for running out of memory.
    static QString outOfMemory();
};

#endif // SYSTEMERROR_H
