#ifndef MONITORLIST_H
#define MONITORLIST_H

#include "archiveoutcome.h"
#include "logrowwidget.h"
#include "progressmailbox.h"

#include <QHash>
#include <QListWidget>
#include <QTimer>
#include <QVector>

#include <vector>

// The monitor log. It only grows, by one row per archive, for as long as the window lives,
// so it keeps for each row just what the row shows (a LogEntry) and gives row widgets only
// to the rows in sight, from a small pool that scrolling hands round. A row costs the same
// after 50 000 rows as after ten, in time and in memory.
//
// Progress reports come thousands of times a second, on the worker's thread; they wait in a
// mailbox that the list empties once a frame, when new rows also join the list, all in one
// go, since the list lays out all its rows for every insertion.
class MonitorList : public QListWidget
{
    Q_OBJECT

public:
    // A shown percentage or size is never older than this. Ten frames a second are smooth
    // enough for a progress bar, and on a server with one CPU each frame's painting is time
    // taken from the job.
    static constexpr int kFrameMs = 100;

    explicit MonitorList(QWidget *parent = nullptr);

    // Appends a row for an archive, made now, and returns its number. It is in the list
    // (count() and item()) from the next frame on.
    int appendRow(const QString &archivePath);
    int rowCount() const { return int(m_entries.size()); }
    // Its row (outcome.index) shows how the archive ended: failed with its reason, or at
    // 100 % with the archive's size when it already held its backup.
    void showOutcome(const ArchiveOutcome &outcome);
    // Shows the reports waiting in the mailbox now rather than at the next frame.
    void takeReports();

    // Thread-safe, for the worker's thread: the reports that follow belong to the next row
    // appended (called as its archive begins, before appendRow), and the newest such row's
    // values.
    void beginRowReports();
    void reportProgress(int value, double mebibytes);

    const LogEntry &entry(int row) const { return m_entries[size_t(row)]; }
    // The widget that shows row, once it is in sight and laid out; otherwise null.
    LogRowWidget *rowWidget(int row) const { return m_widgets.value(row); }

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
    void releaseRow(int row);
    void placeRow(int row);
    void refreshRow(int row);
    void showFrame();
    void startFrame();

    std::vector<LogEntry> m_entries;
    QHash<int, LogRowWidget *> m_widgets; // the rows in sight
    QVector<LogRowWidget *> m_pool;       // hidden, for the next rows to come into sight
    QTimer m_frame;
    ProgressMailbox m_mailbox;
    bool m_insertingRows = false;
};

#endif // MONITORLIST_H
