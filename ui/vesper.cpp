#include "vesper.h"

Vesper::Vesper(QWidget *parent)
    : QMainWindow(parent)
{
    ui.setupUi(this);
}
