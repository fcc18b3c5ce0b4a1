#include "lineeditpath.h"

#include <QMouseEvent>

LineEditPath::LineEditPath(QWidget *parent)
    : QLineEdit(parent)
{
}

void LineEditPath::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit mouseLeftButtonClicked();
    // The base handler is skipped on purpose: a press must never move the
    // cursor or start a selection. The event stays accepted, so it does not
    // travel on to the parent either.
}
