#include "monitorlist.h"

#include <QAbstractItemDelegate>

MonitorList::MonitorList(QWidget *parent)
    : QListWidget(parent)
{
    // Every row is equally high (the item delegate fixes it), so the view may lay out the
    // rows without asking the delegate for each one.
    setUniformItemSizes(true);
    m_frame.setSingleShot(true);
    m_frame.setInterval(kFrameMs);
    connect(&m_frame, &QTimer::timeout, this, &MonitorList::showFrame);
}

int MonitorList::appendRow(const QString &archivePath)
{
    LogEntry entry;
    entry.created = QDateTime::currentDateTime();
    entry.archivePath = archivePath;
    m_entries.push_back(std::move(entry));
    // The row before shows its last report now, and a quick new row its first ones.
    takeReports();
    startFrame();
    return rowCount() - 1;
}

void MonitorList::beginRowReports()
{
    m_mailbox.beginRow();
}

void MonitorList::reportProgress(int value, double mebibytes)
{
    if (m_mailbox.post(value, mebibytes))
        QMetaObject::invokeMethod(this, &MonitorList::startFrame, Qt::QueuedConnection);
}

void MonitorList::takeReports()
{
    for (const ProgressMailbox::Report &report : m_mailbox.take(rowCount())) {
        LogEntry &entry = m_entries[size_t(report.row)];
        entry.value = report.value;
        entry.mebibytes = report.mebibytes;
        if (LogRowWidget *widget = rowWidget(report.row))
            widget->displayProgress(entry);
    }
}

void MonitorList::showOutcome(const ArchiveOutcome &outcome)
{
    if (outcome.index < 0 || outcome.index >= rowCount())
        return;
    takeReports();
    LogEntry &entry = m_entries[size_t(outcome.index)];
    if (outcome.failed()) {
        entry.failed = true;
        entry.reason = outcome.reason;
    } else if (outcome.kind == ArchiveOutcome::Kind::Unchanged) {
        entry.value = 100;
        entry.mebibytes = double(outcome.bytesWritten) / (1024.0 * 1024.0);
        entry.unchanged = true;
    }
    refreshRow(outcome.index);
}

void MonitorList::startFrame()
{
    if (!m_frame.isActive())
        m_frame.start();
}

void MonitorList::showFrame()
{
    while (count() < rowCount())
        new QListWidgetItem(this, QListWidgetItem::Type);
    takeReports();
}

void MonitorList::refreshRow(int row)
{
    if (LogRowWidget *widget = rowWidget(row))
        widget->displayProgress(m_entries[size_t(row)]);
}

void MonitorList::rowsInserted(const QModelIndex &parent, int start, int end)
{
    // The base class lays out all rows at once here to place index widgets; this list has
    // none, and the layout it has just scheduled places the row widgets anyway.
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
    QListWidget::updateEditorGeometries();
    if (m_insertingRows)
        return;
    const RowRange sight = rowsInSight();
    const QList<int> shown = m_widgets.keys();
    for (int row : shown) {
        if (!sight.contains(row))
            releaseRow(row);
    }
    for (int row = sight.first; row <= sight.last; ++row)
        placeRow(row);
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

void MonitorList::releaseRow(int row)
{
    LogRowWidget *widget = m_widgets.take(row);
    widget->hide();
    m_pool.append(widget);
}

// Only rows in sight come here, so their rectangles are valid.
void MonitorList::placeRow(int row)
{
    LogRowWidget *widget = m_widgets.value(row);
    if (!widget) {
        widget = m_pool.isEmpty() ? new LogRowWidget(viewport()) : m_pool.takeLast();
        widget->display(m_entries[size_t(row)]);
        m_widgets.insert(row, widget);
    }
    const QModelIndex index = indexFromItem(item(row));
    QStyleOptionViewItem option = viewOptions();
    option.rect = visualRect(index);
    if (QAbstractItemDelegate *delegate = itemDelegate(index))
        delegate->updateEditorGeometry(widget, option, index);
    widget->show();
}
