#ifndef FLATUI_H
#define FLATUI_H

#include <QObject>
#include <QString>

class QLineEdit;
class QProgressBar;
class QPushButton;

// Gives line edits, push buttons and progress bars a flat look by building a
// widget stylesheet from a few sizes and colours. Each call sets the sheet on
// the widget itself and also returns it.
class FlatUI : public QObject
{
    Q_OBJECT

public:
    static FlatUI *Instance();

    static QString setLineEditQss(QLineEdit *txt, int radius, int borderWidth,
                                  const QString &normalColor, const QString &focusColor);

    static QString setPushButtonQss(QPushButton *btn, int radius, int padding,
                                    const QString &normalColor, const QString &normalTextColor,
                                    const QString &hoverColor, const QString &hoverTextColor,
                                    const QString &pressedColor, const QString &pressedTextColor);

    static QString setProgressQss(QProgressBar *bar, int barHeight, int barRadius, int fontSize,
                                  const QString &normalColor, const QString &chunkColor);

private:
    explicit FlatUI(QObject *parent = nullptr);
};

#endif // FLATUI_H
