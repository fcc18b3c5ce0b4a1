#ifndef LOGROW_H
#define LOGROW_H

#include <QString>

class QLabel;
class QListWidget;
class QProgressBar;
class QWidget;

// One monitor-log row: time, archive path, size so far, caption and progress bar.
struct LogRow
{
    QLabel *sizeLabel = nullptr;
    QProgressBar *progressBar = nullptr;
};

// Appends a row for the archive at archivePath to list. The bar is created under
// barParent first and taken over by the row's layout.
LogRow appendLogRow(QListWidget *list, QWidget *barParent, const QString &archivePath);

// Shows that the row's archive was not written: "压缩失败" and a red bar that keeps its value.
void markLogRowFailed(QLabel *sizeLabel, QProgressBar *bar);

// "12.35 MB": MiB with two decimals.
QString sizeText(double mebibytes);

#endif // LOGROW_H
