#ifndef BOXCLOSER_H
#define BOXCLOSER_H

#include <QObject>
#include <QStringList>
#include <QTimer>

// Closes every warning box the program opens, keeping what each said and how it looked.
class BoxCloser : public QObject
{
    Q_OBJECT

public:
    BoxCloser();

    QStringList texts;
    QStringList forms; // title, icon, buttons and parent of each box

private:
    void closeActiveBox();

    QTimer m_timer;
};

#endif // BOXCLOSER_H
