#ifndef LOGROWWIDGET_H
#define LOGROWWIDGET_H

#include <QDateTime>
#include <QString>
#include <QWidget>

class QLabel;
class QProgressBar;

// What one monitor-log row shows. The log keeps one of these for every row, and a row
// widget only for the rows in sight.
struct LogEntry
{
    QDateTime created;
    QString archivePath;
    int value = -1;         // percentage; below 0: no report yet
    double mebibytes = -1;  // archive size so far; below 0: no report yet
    bool failed = false;
    bool unchanged = false; // the archive already held the backup and was left as it was
    QString reason; // why it failed, shown as the row's tooltip
};

// A row widget: time, archive path, size so far, caption and progress bar. The log hands
// it whichever row comes into sight.
class LogRowWidget : public QWidget
{
    Q_OBJECT

public:
    explicit LogRowWidget(QWidget *parent = nullptr);

    // Shows entry as a row made for it would.
    void display(const LogEntry &entry);
    // The same row again, after a new report: only the size and the bar change.
    void displayProgress(const LogEntry &entry);

private:
    QLabel *m_time;
    QLabel *m_path;
    QLabel *m_size;
    QProgressBar *m_bar;
    bool m_barFailed = false;
};

// "12.35 MB": MiB with two decimals.
QString sizeText(double mebibytes);

#endif // LOGROWWIDGET_H
