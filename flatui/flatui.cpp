#include "flatui.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

// A null widget still gets its text back, so callers may build a sheet first.
QString applySheet(QWidget *widget, const QString &sheet)
{
    if (widget)
        widget->setStyleSheet(sheet);
    return sheet;
}

QString px(int length)
{
    return QString::number(length) + QLatin1String("px");
}

} // namespace

FlatUI::FlatUI(QObject *parent)
    : QObject(parent)
{
}

FlatUI *FlatUI::Instance()
{
    static FlatUI instance;
    return &instance;
}

// The multi-argument arg() fills every placeholder in one pass, so a colour
// text can never be mistaken for a placeholder of a later argument.
QString FlatUI::setLineEditQss(QLineEdit *txt, int radius, int borderWidth,
                               const QString &normalColor, const QString &focusColor)
{
    const QString sheet = QStringLiteral(
        "QLineEdit{border-style:none;padding:3px;border-radius:%1;border:%2 solid %3;}"
        "QLineEdit:focus{border:%2 solid %4;}")
        .arg(px(radius), px(borderWidth), normalColor, focusColor);
    return applySheet(txt, sheet);
}

QString FlatUI::setPushButtonQss(QPushButton *btn, int radius, int padding,
                                 const QString &normalColor, const QString &normalTextColor,
                                 const QString &hoverColor, const QString &hoverTextColor,
                                 const QString &pressedColor, const QString &pressedTextColor)
{
    const QString sheet = QStringLiteral(
        "QPushButton{border-style:none;padding:%2;border-radius:%1;color:%4;background:%3;}"
        "QPushButton:hover{color:%6;background:%5;}"
        "QPushButton:pressed{color:%8;background:%7;}")
        .arg(px(radius), px(padding), normalColor, normalTextColor,
             hoverColor, hoverTextColor, pressedColor, pressedTextColor);
    return applySheet(btn, sheet);
}

QString FlatUI::setProgressQss(QProgressBar *bar, int barHeight, int barRadius, int fontSize,
                               const QString &normalColor, const QString &chunkColor)
{
    const QString sheet = QStringLiteral(
        "QProgressBar{font-size:%3;background:%4;max-height:%1;border-radius:%2;"
        "text-align:center;border:1px solid %4;}"
        "QProgressBar::chunk{border-radius:%2;background-color:%5;}")
        .arg(px(barHeight), px(barRadius), px(fontSize), normalColor, chunkColor);
    return applySheet(bar, sheet);
}
