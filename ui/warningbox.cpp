#include "warningbox.h"

#include <QMessageBox>
#include <QPushButton>

void showWarning(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral(" "), text, QMessageBox::NoButton, nullptr);
    // Owned by the box from here on, and destroyed with it.
    box.addButton(new QPushButton(QStringLiteral("确定")), QMessageBox::AcceptRole);
    box.exec();
}
