#include "myitemdrawer.h"

#include <QListWidget>
#include <QPainter>
#include <QStandardItemModel>
#include <QtTest>

namespace {

const QColor background(20, 60, 200);
const QColor highlight(219, 207, 202, 180);
const QString iconPath = QStringLiteral(":/Vesper/Resources/winrar.png");

QImage blankCanvas()
{
    QImage image(240, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    return image;
}

QImage paintRow(const QRect &row, QStyle::State state)
{
    MyItemDrawer drawer;
    QStyleOptionViewItem option;
    option.rect = row;
    option.state = state;
    QImage image = blankCanvas();
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    drawer.paint(&painter, option, QModelIndex());
    return image;
}

// What the row should look like: an optional highlight fill, then the icon.
QImage expectedRow(const QRect &iconRect, const QRect &highlightRect = QRect())
{
    QImage image = blankCanvas();
    QPainter painter(&image);
    if (highlightRect.isValid())
        painter.fillRect(highlightRect, highlight);
    painter.drawPixmap(iconRect, QPixmap(iconPath));
    return image;
}

QRect changedArea(const QImage &image, const QImage &reference)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != reference.pixel(x, y))
                area |= QRect(x, y, 1, 1);
    return area;
}

// True when every pixel that differs lies in one of the rect's 2 x 2 corners.
bool differsOnlyInCorners(const QImage &image, const QImage &reference, const QRect &rect)
{
    const QSize corner(2, 2);
    QRegion corners;
    corners += QRect(rect.topLeft(), corner);
    corners += QRect(rect.topRight() - QPoint(1, 0), corner);
    corners += QRect(rect.bottomLeft() - QPoint(0, 1), corner);
    corners += QRect(rect.bottomRight() - QPoint(1, 1), corner);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != reference.pixel(x, y) && !corners.contains(QPoint(x, y)))
                return false;
    return true;
}

// Source-over of the highlight on the background, worked by hand.
bool isHighlightOnBackground(const QColor &c)
{
    auto blend = [](int top, int below) { return (top * 180 + below * 75) / 255.0; };
    return qAbs(c.red() - blend(219, background.red())) <= 1.5
        && qAbs(c.green() - blend(207, background.green())) <= 1.5
        && qAbs(c.blue() - blend(202, background.blue())) <= 1.5;
}

QWidget *makeRowWidget(QListWidget *list)
{
    auto *row = new QWidget(list);
    row->resize(800, 50);
    row->show();
    return row;
}

} // namespace

Q_DECLARE_METATYPE(QStyle::State)

class MyItemDrawerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rowIsThirtyHigh_data();
    void rowIsThirtyHigh();
    void unselectedRowShowsOnlyTheIcon_data();
    void unselectedRowShowsOnlyTheIcon();
    void selectedRowShowsInsetHighlight_data();
    void selectedRowShowsInsetHighlight();
    void selectionUsesAndKeepsPainterState();
    void rowWidgetsCoverTheirRows_data();
    void rowWidgetsCoverTheirRows();
};

void MyItemDrawerTest::initTestCase()
{
    QVERIFY2(!QPixmap(iconPath).isNull(), "the icon resource is not linked in");
}

void MyItemDrawerTest::rowIsThirtyHigh_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<QString>("text");
    QTest::newRow("small font") << 6 << "E:/zip/Nightly.rar";
    QTest::newRow("large font") << 40 << "E:/zip/Nightly.rar";
    QTest::newRow("three lines") << 10 << "one\ntwo\nthree";
    QTest::newRow("no text") << 10 << "";
}

void MyItemDrawerTest::rowIsThirtyHigh()
{
    QFETCH(int, pointSize);
    QFETCH(QString, text);
    QFont font;
    font.setPointSize(pointSize);
    QStandardItemModel model;
    auto *item = new QStandardItem(text);
    item->setFont(font);
    model.appendRow(item);
    QStyleOptionViewItem option;
    option.font = font;

    const QSize hint = MyItemDrawer().sizeHint(option, item->index());

    QCOMPARE(hint.height(), 30);
    QCOMPARE(hint.width(), QStyledItemDelegate().sizeHint(option, item->index()).width());
}

void MyItemDrawerTest::unselectedRowShowsOnlyTheIcon_data()
{
    QTest::addColumn<QRect>("row");
    QTest::addColumn<QStyle::State>("state");
    QTest::addColumn<QRect>("iconRect");
    const QStyle::State none = QStyle::State_None;
    QTest::newRow("first row") << QRect(0, 0, 200, 30) << none << QRect(2, 0, 30, 30);
    QTest::newRow("third row") << QRect(0, 60, 200, 30) << none << QRect(2, 60, 30, 30);
    QTest::newRow("indented row") << QRect(10, 30, 150, 30) << none << QRect(12, 30, 30, 30);
    QTest::newRow("taller row, icon centred") << QRect(0, 20, 200, 40) << none << QRect(2, 25, 30, 30);
    QTest::newRow("hovered") << QRect(0, 30, 200, 30) << QStyle::State(QStyle::State_MouseOver)
                             << QRect(2, 30, 30, 30);
    QTest::newRow("focused") << QRect(0, 30, 200, 30) << QStyle::State(QStyle::State_HasFocus)
                             << QRect(2, 30, 30, 30);
}

void MyItemDrawerTest::unselectedRowShowsOnlyTheIcon()
{
    QFETCH(QRect, row);
    QFETCH(QStyle::State, state);
    QFETCH(QRect, iconRect);

    const QImage painted = paintRow(row, state | QStyle::State_Enabled);
    const QImage expected = expectedRow(iconRect);

    QCOMPARE(changedArea(painted, blankCanvas()), changedArea(expected, blankCanvas()));
    QCOMPARE(painted, expected);
}

void MyItemDrawerTest::selectedRowShowsInsetHighlight_data()
{
    QTest::addColumn<QRect>("row");
    QTest::addColumn<QStyle::State>("extraState");
    QTest::addColumn<QRect>("iconRect");
    const QStyle::State none = QStyle::State_None;
    QTest::newRow("first row") << QRect(0, 0, 200, 30) << none << QRect(2, 0, 30, 30);
    QTest::newRow("second row") << QRect(0, 30, 200, 30) << none << QRect(2, 30, 30, 30);
    QTest::newRow("indented row") << QRect(10, 60, 150, 30) << none << QRect(12, 60, 30, 30);
    QTest::newRow("hovered and focused") << QRect(0, 30, 200, 30)
                                         << (QStyle::State_MouseOver | QStyle::State_HasFocus)
                                         << QRect(2, 30, 30, 30);
}

void MyItemDrawerTest::selectedRowShowsInsetHighlight()
{
    QFETCH(QRect, row);
    QFETCH(QStyle::State, extraState);
    QFETCH(QRect, iconRect);
    const QRect inset = row.adjusted(1, 1, -1, -1);

    const QImage painted = paintRow(row, extraState | QStyle::State_Selected);

    QVERIFY(isHighlightOnBackground(painted.pixelColor(row.center().x() + 40, row.center().y())));
    QCOMPARE(changedArea(painted, blankCanvas()), inset | changedArea(expectedRow(iconRect), blankCanvas()));
    QVERIFY2(differsOnlyInCorners(painted, expectedRow(iconRect, inset), inset),
             "apart from its rounded corners the highlight fills the inset row, under the icon");
    QCOMPARE(painted.pixel(inset.topRight()), blankCanvas().pixel(0, 0));
}

// A view's painter carries its own pen, which outlines the highlight, and
// the delegate leaves its highlight brush on the painter.
void MyItemDrawerTest::selectionUsesAndKeepsPainterState()
{
    const QRect row(0, 30, 200, 30);
    QStyleOptionViewItem option;
    option.rect = row;
    option.state = QStyle::State_Selected;
    QImage image = blankCanvas();
    QPainter painter(&image);
    painter.setPen(QPen(Qt::green));

    MyItemDrawer().paint(&painter, option, QModelIndex());
    const QBrush brushAfterwards = painter.brush();
    painter.end();

    QCOMPARE(image.pixelColor(100, row.top() + 1), QColor(Qt::green));
    QCOMPARE(brushAfterwards.color(), highlight);
}

// A check box, an icon or a text would each narrow the style's own editor
// rectangle; the row widget must still cover the whole row.
void MyItemDrawerTest::rowWidgetsCoverTheirRows_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QSize>("listSize");
    QTest::addColumn<bool>("decorated");
    QTest::newRow("one row") << 1 << QSize(400, 300) << false;
    QTest::newRow("three rows, wide list") << 3 << QSize(1000, 300) << false;
    QTest::newRow("items with check box, icon and text") << 2 << QSize(600, 300) << true;
}

void MyItemDrawerTest::rowWidgetsCoverTheirRows()
{
    QFETCH(int, rows);
    QFETCH(QSize, listSize);
    QFETCH(bool, decorated);
    QListWidget list;
    list.setItemDelegate(new MyItemDrawer(&list));
    list.resize(listSize);
    QVector<QWidget *> rowWidgets;
    for (int i = 0; i < rows; ++i) {
        auto *item = new QListWidgetItem(&list);
        if (decorated) {
            item->setText(QStringLiteral("E:/zip/Nightly.rar"));
            item->setIcon(QIcon(iconPath));
            item->setCheckState(Qt::Unchecked);
        }
        rowWidgets << makeRowWidget(&list);
        list.setItemWidget(item, rowWidgets.last());
    }
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QCoreApplication::processEvents();

    for (int i = 0; i < rows; ++i) {
        const QRect row(0, 30 * i, list.viewport()->width(), 30);
        QCOMPARE(list.visualItemRect(list.item(i)), row);
        QCOMPARE(rowWidgets[i]->geometry(), row);
    }
}

QTEST_MAIN(MyItemDrawerTest)
#include "myitemdrawertest.moc"
