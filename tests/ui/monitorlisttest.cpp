#include "monitorlist.h"
#include "myitemdrawer.h"

#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QtTest>

// Row widgets of a long log: only the rows in sight have one, sitting on its row and
// showing that row's values, and scrolling or resizing hands them to the right rows.
class MonitorListTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyRowsInSightAreShown_data();
    void onlyRowsInSightAreShown();
    void rowsAddedLaterFollowTheSameRule();
    void reportsAheadOfTheirRowsKeepToThem();
    void namesAndReasonsShowOnOneLine();

private:
    static void addRows(MonitorList *list, int rows);
    static void verifyRows(MonitorList *list, int tallest);
};

void MonitorListTest::addRows(MonitorList *list, int rows)
{
    for (int i = 0; i < rows; ++i) {
        list->beginRowReports();
        const int row = list->appendRow(QString("/out/row-%1.rar").arg(list->count()));
        list->reportProgress(row % 101, row / 100.0);
    }
}

// tallest: the most the list was high, which bounds the row widgets ever needed.
void MonitorListTest::verifyRows(MonitorList *list, int tallest)
{
    // Rows join the list at its next frame, and the layout that places their widgets
    // follows; a busy machine may be slow to get to either.
    QTRY_COMPARE(list->count(), list->rowCount());
    QTest::qWait(40);
    const QRect sight = list->viewport()->rect();
    int shown = 0;
    for (int i = 0; i < list->count(); ++i) {
        LogRowWidget *row = list->rowWidget(i);
        const QRect rect = list->visualItemRect(list->item(i));
        const bool inSight = rect.intersects(sight);
        QVERIFY2(bool(row) == inSight, qPrintable(QString("row %1").arg(i)));
        if (!inSight)
            continue;
        QVERIFY(row->isVisible());
        QCOMPARE(row->geometry(), rect);
        QCOMPARE(row->findChildren<QLabel *>().at(1)->text(), list->entry(i).archivePath);
        QCOMPARE(row->findChild<QProgressBar *>()->value(), list->entry(i).value);
        ++shown;
    }
    QVERIFY(shown > 0 || list->count() == 0);
    const int widgets = list->viewport()->findChildren<LogRowWidget *>().size();
    QVERIFY2(widgets <= tallest / 30 + 2, qPrintable(QString("%1 row widgets").arg(widgets)));
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
    verifyRows(&list, height);

    QScrollBar *bar = list.verticalScrollBar();
    bar->setValue(bar->minimum() + int(scrolledTo * (bar->maximum() - bar->minimum())));
    verifyRows(&list, height);

    if (heightAfter > 0) {
        list.resize(600, heightAfter);
        verifyRows(&list, std::max(height, heightAfter));
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
    verifyRows(&list, 300);
    QCOMPARE(list.verticalScrollBar()->value(), 0); // not scrolled to the new rows

    list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
    addRows(&list, 25);
    verifyRows(&list, 300);
}

// The worker reports into the mailbox at once, while its rows arrive queued: reports may be
// several rows ahead of the list, and each must still end on its own row.
void MonitorListTest::reportsAheadOfTheirRowsKeepToThem()
{
    MonitorList list;
    const QVector<QVector<int>> reports{{100}, {50, 100}, {7}};
    for (const QVector<int> &row : reports) {
        list.beginRowReports();
        for (int value : row)
            list.reportProgress(value, value / 10.0);
    }
    for (int row = 0; row < reports.size(); ++row)
        list.appendRow(QString("/out/%1.rar").arg(row));
    list.reportProgress(9, 0.9); // the newest row goes on
    QTRY_COMPARE(list.entry(2).value, 9);
    QCOMPARE(list.entry(0).value, 100);
    QCOMPARE(list.entry(1).value, 100);
    QCOMPARE(list.entry(1).mebibytes, 10.0);
}

void MonitorListTest::namesAndReasonsShowOnOneLine()
{
    MonitorList list;
    list.resize(600, 300);
    list.show();
    list.beginRowReports();
    list.appendRow(QStringLiteral("/out/b\n100: x.rar"));
    ArchiveOutcome failed;
    failed.index = 0;
    failed.reason = QStringLiteral("gone\r\n");
    list.showOutcome(failed);
    QTRY_VERIFY(list.rowWidget(0));
    QCOMPARE(list.rowWidget(0)->findChildren<QLabel *>().at(1)->text(), QString("/out/b\\x0a100: x.rar"));
    QCOMPARE(list.rowWidget(0)->toolTip(), QString("gone\\x0d\\x0a"));
}

QTEST_MAIN(MonitorListTest)
#include "monitorlisttest.moc"
