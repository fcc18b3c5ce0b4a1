#include "wholesave.h"

#include <QSaveFile>

bool commitWhole(QSaveFile &file)
{
    if (!file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
