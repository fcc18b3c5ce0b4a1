#ifndef LINEEDITPATH_H
#define LINEEDITPATH_H

#include <QLineEdit>

class QMouseEvent;

// A read-only path field that reports a left-button press instead of placing
// the cursor, so a click into it can open a directory chooser.
class LineEditPath : public QLineEdit
{
    Q_OBJECT

public:
    explicit LineEditPath(QWidget *parent = nullptr);

signals:
    void mouseLeftButtonClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

#endif // LINEEDITPATH_H
