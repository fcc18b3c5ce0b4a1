#ifndef MONITORLIST_H
#define MONITORLIST_H

#include <QListWidget>

// The monitor log's list. Every row carries a row widget of its own and the log only
// grows, so the view's own upkeep of those widgets (placing every one of them after each
// new row, painting past every shown one) would cost time in proportion to the rows
// already there. This list places and shows only the row widgets in sight and hides the
// rest; a row scrolled into sight is placed then.
class MonitorList : public QListWidget
{
    Q_OBJECT

public:
    explicit MonitorList(QWidget *parent = nullptr);

protected:
    void updateEditorGeometries() override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct RowRange
    {
        int first = 0;
        int last = -1;
        bool contains(int row) const { return row >= first && row <= last; }
    };

    RowRange rowsInSight() const;
    void hideRow(int row);
    void placeRow(int row);

    RowRange m_shown;
    int m_placedRows = 0; // rows below this have been placed or hidden once
    bool m_insertingRows = false;
};

#endif // MONITORLIST_H
