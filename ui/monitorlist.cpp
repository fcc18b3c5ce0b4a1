#include "monitorlist.h"

#include <QAbstractItemDelegate>

MonitorList::MonitorList(QWidget *parent)
    : QListWidget(parent)
{
    // Every row is equally high (the item delegate fixes it), so the view may lay out the
    // rows without asking the delegate for each one.
    setUniformItemSizes(true);
}

void MonitorList::rowsInserted(const QModelIndex &parent, int start, int end)
{
    // The base class lays out all rows at once here to place the row widgets; the layout
    // it has just scheduled places them anyway, once for any number of new rows.
    m_insertingRows = true;
    QListWidget::rowsInserted(parent, start, end);
    m_insertingRows = false;
}

void MonitorList::scrollContentsBy(int dx, int dy)
{
    QListWidget::scrollContentsBy(dx, dy);
    updateEditorGeometries();
}

void MonitorList::updateEditorGeometries()
{
    if (m_insertingRows)
        return;
    const RowRange sight = rowsInSight();
    for (int row = m_shown.first; row <= m_shown.last && row < count(); ++row) {
        if (!sight.contains(row))
            hideRow(row);
    }
    // A new row's widget was shown wherever it was made; out of sight it is hidden.
    for (int row = m_placedRows; row < count(); ++row) {
        if (!sight.contains(row))
            hideRow(row);
    }
    m_placedRows = count();
    for (int row = sight.first; row <= sight.last; ++row)
        placeRow(row);
    m_shown = sight;
}

MonitorList::RowRange MonitorList::rowsInSight() const
{
    RowRange range;
    if (count() == 0)
        return range;
    const QRect area = viewport()->rect();
    const QModelIndex top = indexAt(area.topLeft());
    const QModelIndex bottom = indexAt(QPoint(area.left(), area.bottom()));
    if (!top.isValid())
        return range; // nothing in sight
    range.first = top.row();
    range.last = bottom.isValid() ? bottom.row() : count() - 1;
    return range;
}

void MonitorList::hideRow(int row)
{
    if (QWidget *widget = itemWidget(item(row)))
        widget->hide();
}

// Only rows in sight come here, so their rectangles are valid.
void MonitorList::placeRow(int row)
{
    QListWidgetItem *rowItem = item(row);
    QWidget *widget = itemWidget(rowItem);
    if (!widget)
        return;
    const QModelIndex index = indexFromItem(rowItem);
    QStyleOptionViewItem option = viewOptions();
    option.rect = visualRect(index);
    widget->show();
    if (QAbstractItemDelegate *delegate = itemDelegate(index))
        delegate->updateEditorGeometry(widget, option, index);
}
