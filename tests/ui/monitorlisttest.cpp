#include "monitorlist.h"
#include "myitemdrawer.h"

#include <QScrollBar>
#include <QtTest>

// Row widgets of a long log: the ones in sight sit on their rows, the others are hidden,
// and scrolling or resizing brings the right ones into sight.
class MonitorListTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyRowsInSightAreShown_data();
    void onlyRowsInSightAreShown();
    void rowsAddedLaterFollowTheSameRule();

private:
    static void addRows(MonitorList *list, int rows);
    static void verifyRows(MonitorList *list);
};

void MonitorListTest::addRows(MonitorList *list, int rows)
{
    for (int i = 0; i < rows; ++i) {
        auto *row = new QWidget(list);
        row->resize(800, 50);
        row->show();
        auto *item = new QListWidgetItem(list);
        list->setItemWidget(item, row);
    }
}

void MonitorListTest::verifyRows(MonitorList *list)
{
    QCoreApplication::processEvents();
    const QRect sight = list->viewport()->rect();
    int shown = 0;
    for (int i = 0; i < list->count(); ++i) {
        QWidget *row = list->itemWidget(list->item(i));
        const QRect rect = list->visualItemRect(list->item(i));
        const bool inSight = rect.intersects(sight);
        QVERIFY2(row->isVisible() == inSight, qPrintable(QString("row %1").arg(i)));
        if (inSight) {
            QCOMPARE(row->geometry(), rect);
            ++shown;
        }
    }
    QVERIFY(shown > 0 || list->count() == 0);
}

void MonitorListTest::onlyRowsInSightAreShown_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("scrolledTo"); // share of the scroll range
    QTest::addColumn<int>("heightAfter");   // 0: not resized

    QTest::newRow("few rows, all in sight") << 3 << 300 << 0.0 << 0;
    QTest::newRow("long log, top") << 500 << 300 << 0.0 << 0;
    QTest::newRow("long log, middle") << 500 << 300 << 0.5 << 0;
    QTest::newRow("long log, bottom") << 500 << 300 << 1.0 << 0;
    QTest::newRow("half a row in sight at the edge") << 500 << 315 << 0.3 << 0;
    QTest::newRow("made taller in the middle") << 500 << 200 << 0.5 << 600;
    QTest::newRow("made shorter at the bottom") << 500 << 600 << 1.0 << 150;
}

void MonitorListTest::onlyRowsInSightAreShown()
{
    QFETCH(int, rows);
    QFETCH(int, height);
    QFETCH(double, scrolledTo);
    QFETCH(int, heightAfter);

    MonitorList list;
    list.setItemDelegate(new MyItemDrawer(&list));
    list.resize(600, height);
    addRows(&list, rows);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    verifyRows(&list);

    QScrollBar *bar = list.verticalScrollBar();
    bar->setValue(bar->minimum() + int(scrolledTo * (bar->maximum() - bar->minimum())));
    verifyRows(&list);

    if (heightAfter > 0) {
        list.resize(600, heightAfter);
        verifyRows(&list);
    }
}

void MonitorListTest::rowsAddedLaterFollowTheSameRule()
{
    MonitorList list;
    list.setItemDelegate(new MyItemDrawer(&list));
    list.resize(600, 300);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    // One at a time, as a job reports them, with the event loop running in between.
    for (int i = 0; i < 40; ++i) {
        addRows(&list, 1);
        QCoreApplication::processEvents();
    }
    verifyRows(&list);
    QCOMPARE(list.verticalScrollBar()->value(), 0); // not scrolled to the new rows

    list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
    addRows(&list, 25);
    verifyRows(&list);
}

QTEST_MAIN(MonitorListTest)
#include "monitorlisttest.moc"
