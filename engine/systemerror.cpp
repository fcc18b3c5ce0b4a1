#include "systemerror.h"

#include <QFileDevice>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#endif

SystemError::SystemError()
{
#ifdef Q_OS_WIN
    SetLastError(ERROR_SUCCESS);
#else
    errno = 0;
#endif
}

QString SystemError::reasonFor(const QIODevice &device) const
{
    const QString system = last();
    const auto *file = qobject_cast<const QFileDevice *>(&device);
    // Qt's text for an error it was given no words for.
    const bool ownWords = file && file->error() != QFileDevice::NoError
        && device.errorString() != QIODevice::tr("Unknown error");
    if (ownWords || system.isEmpty())
        return device.errorString();
    return system;
}

QString SystemError::last()
{
#ifdef Q_OS_WIN
    const DWORD error = GetLastError();
#else
    const int error = errno;
#endif
    return error == 0 ? QString() : qt_error_string(int(error));
}

QString SystemError::outOfMemory()
{
#ifdef Q_OS_WIN
    return qt_error_string(ERROR_NOT_ENOUGH_MEMORY);
#else
    return qt_error_string(ENOMEM);
#endif
}
