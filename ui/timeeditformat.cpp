#include "timeeditformat.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeEdit>

namespace {

bool fits(const QTimeEdit *edit)
{
    return edit->sizeHint().width() <= edit->minimumWidth();
}

// A right-to-left edit reverses the sections of a format set on it. Its default format
// was set while it was still left to right, so its sections read in order: so do these.
void setFormat(QTimeEdit *edit, const QString &format)
{
    const Qt::LayoutDirection direction = edit->layoutDirection();
    edit->setLayoutDirection(Qt::LeftToRight);
    edit->setDisplayFormat(format);
    edit->setLayoutDirection(direction);
}

} // namespace

void fitTimeEditFormat(QTimeEdit *edit)
{
    // The seconds, with the separator before them and any fraction after them.
    static const QRegularExpression seconds(QStringLiteral("[^A-Za-z']*s{1,2}([.,]z{1,3})?"));
    const QString own = edit->locale().timeFormat(QLocale::ShortFormat);
    if (!own.contains(seconds) && fits(edit))
        return;
    setFormat(edit, QString(own).remove(seconds));
    if (!fits(edit))
        setFormat(edit, QStringLiteral("HH:mm"));
}
