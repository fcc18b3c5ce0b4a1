#ifndef PRINTABLENAME_H
#define PRINTABLENAME_H

#include <QString>

// A name (or a text that holds one) as it may stand in a line of a log, of --run's output or
// of a tooltip: control characters (U+0000-U+001F, U+007F-U+009F) and the bytes of a file
// name that are not UTF-8 appear as \xNN, so that no name can end a line or start one of its
// own. Everything else stays as it is.
class PrintableName
{
public:
    static QString text(const QString &name);
};

#endif // PRINTABLENAME_H
