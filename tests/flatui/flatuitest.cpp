#include "flatui.h"

#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

enum class Kind { LineEdit, PushButton, Progress };

struct Styling
{
    Kind kind;
    QVector<int> lengths;
    QStringList colours;
};

std::unique_ptr<QWidget> makeWidget(Kind kind)
{
    switch (kind) {
    case Kind::LineEdit: return std::make_unique<QLineEdit>();
    case Kind::PushButton: return std::make_unique<QPushButton>(QStringLiteral("Go"));
    case Kind::Progress: return std::make_unique<QProgressBar>();
    }
    return nullptr;
}

// Styles the widget, or a null pointer of the matching type when widget is null.
QString style(const Styling &s, QWidget *widget)
{
    const QVector<int> &n = s.lengths;
    const QStringList &c = s.colours;
    switch (s.kind) {
    case Kind::LineEdit:
        return FlatUI::setLineEditQss(qobject_cast<QLineEdit *>(widget), n[0], n[1], c[0], c[1]);
    case Kind::PushButton:
        return FlatUI::setPushButtonQss(qobject_cast<QPushButton *>(widget), n[0], n[1],
                                        c[0], c[1], c[2], c[3], c[4], c[5]);
    case Kind::Progress:
        return FlatUI::setProgressQss(qobject_cast<QProgressBar *>(widget), n[0], n[1], n[2],
                                      c[0], c[1]);
    }
    return QString();
}

QColor middlePixel(QWidget *widget, const QPoint &offset = QPoint())
{
    const QImage image = widget->grab().toImage();
    return image.pixelColor(image.rect().center() + offset);
}

} // namespace

Q_DECLARE_METATYPE(Styling)

class FlatUITest : public QObject
{
    Q_OBJECT

private slots:
    void stylesTheWidgetPassed_data();
    void stylesTheWidgetPassed();
    void instanceIsShared();
    void sheetIsUnderstoodByQt_data();
    void sheetIsUnderstoodByQt();
};

void FlatUITest::stylesTheWidgetPassed_data()
{
    QTest::addColumn<Styling>("styling");
    const QStringList buttonColours{"#626262", "#ffffff", "#323232", "#efefef", "#626262", "#ffffff"};
    QTest::newRow("path field") << Styling{Kind::LineEdit, {4, 1}, {"#8a8799", "#34495E"}};
    QTest::newRow("line edit, other values") << Styling{Kind::LineEdit, {7, 2}, {"red", "#00ff00"}};
    QTest::newRow("window button") << Styling{Kind::PushButton, {4, 3}, buttonColours};
    QTest::newRow("button, six distinct colours")
        << Styling{Kind::PushButton, {6, 9}, {"#010101", "#020202", "#030303", "#040404", "#050505", "#060606"}};
    QTest::newRow("log progress bar") << Styling{Kind::Progress, {16, 3, 10}, {"#d3e2e2", "#6bc235"}};
    QTest::newRow("progress bar, other values") << Styling{Kind::Progress, {20, 5, 12}, {"#111111", "#222222"}};
}

void FlatUITest::stylesTheWidgetPassed()
{
    QFETCH(Styling, styling);
    auto first = makeWidget(styling.kind);
    auto second = makeWidget(styling.kind);

    const QString sheet = style(styling, first.get());

    QCOMPARE(first->styleSheet(), sheet);
    for (int length : styling.lengths)
        QVERIFY2(sheet.contains(QString::number(length) + "px"), qPrintable(sheet));
    for (const QString &colour : styling.colours)
        QVERIFY2(sheet.contains(colour), qPrintable(sheet));
    QCOMPARE(style(styling, second.get()), sheet);
    QCOMPARE(second->styleSheet(), first->styleSheet());
    QCOMPARE(style(styling, nullptr), sheet);
}

void FlatUITest::instanceIsShared()
{
    QVERIFY(FlatUI::Instance());
    QCOMPARE(FlatUI::Instance(), FlatUI::Instance());
}

// Offsets pick a spot away from the button's and the bar's centred text.
void FlatUITest::sheetIsUnderstoodByQt_data()
{
    QTest::addColumn<Styling>("styling");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QColor>("expected");
    const QStringList grey{"#626262", "#ffffff", "#323232", "#efefef", "#626262", "#ffffff"};
    const QStringList teal{"#008080", "#ffffff", "#323232", "#efefef", "#626262", "#ffffff"};
    QTest::newRow("button background") << Styling{Kind::PushButton, {4, 3}, grey}
                                       << QPoint(-40, 0) << QColor("#626262");
    QTest::newRow("other button background") << Styling{Kind::PushButton, {4, 3}, teal}
                                             << QPoint(-40, 0) << QColor("#008080");
    QTest::newRow("full progress chunk") << Styling{Kind::Progress, {16, 3, 10}, {"#d3e2e2", "#6bc235"}}
                                         << QPoint(-40, 0) << QColor("#6bc235");
}

void FlatUITest::sheetIsUnderstoodByQt()
{
    QFETCH(Styling, styling);
    QFETCH(QPoint, offset);
    QFETCH(QColor, expected);
    auto widget = makeWidget(styling.kind);
    if (auto bar = qobject_cast<QProgressBar *>(widget.get()))
        bar->setValue(100);
    style(styling, widget.get());
    widget->resize(120, 30);
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));

    QCOMPARE(middlePixel(widget.get(), offset), expected);
}

QTEST_MAIN(FlatUITest)
#include "flatuitest.moc"
