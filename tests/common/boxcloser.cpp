#include "boxcloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

BoxCloser::BoxCloser()
{
    connect(&m_timer, &QTimer::timeout, this, &BoxCloser::closeActiveBox);
    m_timer.start(10);
}

void BoxCloser::closeActiveBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return;
    texts << box->text();
    QStringList buttons;
    for (QAbstractButton *button : box->buttons())
        buttons << button->text() + "/" + QString::number(box->buttonRole(button));
    forms << QString("'%1' icon %2 %3 parent %4")
                 .arg(box->windowTitle())
                 .arg(box->icon())
                 .arg(buttons.join(","))
                 .arg(box->parent() ? "yes" : "none");
    box->buttons().first()->click();
}
