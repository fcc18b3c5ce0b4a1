#ifndef VESPER_H
#define VESPER_H

#include <QMainWindow>

#include "ui_vesper.h"

// The program's only window.
class Vesper : public QMainWindow
{
    Q_OBJECT

public:
    explicit Vesper(QWidget *parent = nullptr);

private:
    Ui::VesperClass ui;
};

#endif // VESPER_H
