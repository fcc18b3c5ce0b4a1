#include <QApplication>
#include <QIcon>

#include "stylesheet.h"
#include "vesper.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
#ifndef Q_OS_WIN
    // Windows takes the icon from the executable's resources; elsewhere the
    // windows need it handed over.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/halcyon.png")));
#endif
    app.setStyleSheet(loadStyleSheet(QStringLiteral("skin.css")));

    Vesper window;
    window.show();
    return app.exec();
}
