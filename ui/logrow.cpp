#include "logrow.h"

#include "flatui.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>

namespace {

void styleBar(QProgressBar *bar, const QString &chunkColor)
{
    FlatUI::Instance();
    FlatUI::setProgressQss(bar, 16, 3, 10, QStringLiteral("#d3e2e2"), chunkColor);
}

QLabel *timeLabel(QWidget *row, const QDateTime &now, const QFont &font)
{
    auto *label = new QLabel(now.toString(QStringLiteral("yyyy-M-d h:mm:ss")), row);
    label->setMaximumSize(150, 25);
    label->setAlignment(Qt::AlignLeft | Qt::AlignHCenter | Qt::AlignVCenter);
    label->setFont(font);
    return label;
}

QLabel *pathLabel(QWidget *row, const QString &path, const QFont &font)
{
    auto *label = new QLabel(path, row);
    label->setMaximumSize(980, 20);
    label->setMinimumSize(550, 20);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setFont(font);
    label->setContentsMargins(80, 0, 40, 0);
    label->setText(QFontMetrics(label->font()).elidedText(path, Qt::ElideRight, label->width()));
    return label;
}

QLabel *sizeLabel(QWidget *row, const QFont &font)
{
    auto *label = new QLabel(QString(), row);
    label->setMinimumSize(120, 20);
    label->setAlignment(Qt::AlignRight | Qt::AlignHCenter | Qt::AlignVCenter);
    label->setFont(font);
    label->setContentsMargins(0, 0, 60, 0);
    return label;
}

QLabel *captionLabel(QWidget *row, const QFont &font)
{
    auto *label = new QLabel(QStringLiteral("压缩进度"), row);
    label->setMinimumSize(60, 20);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFont(font);
    return label;
}

QProgressBar *progressBar(QWidget *parent, const QFont &font)
{
    auto *bar = new QProgressBar(parent);
    bar->setMinimum(0);
    bar->setMaximum(100);
    bar->setMinimumSize(160, 14);
    bar->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    bar->setFont(font);
    bar->setOrientation(Qt::Horizontal);
    styleBar(bar, QStringLiteral("#6bc235"));
    return bar;
}

} // namespace

LogRow appendLogRow(QListWidget *list, QWidget *barParent, const QString &archivePath)
{
    list->setResizeMode(QListView::Adjust);
    list->setAutoScroll(true);

    auto *row = new QWidget(list);
    auto *layout = new QHBoxLayout(row);
    const QDateTime now = QDateTime::currentDateTime();
    QFont font;
    font.setFamily(QStringLiteral("Microsoft Yahei"));
    font.setPointSize(10);

    LogRow result;
    QLabel *time = timeLabel(row, now, font);
    QLabel *path = pathLabel(row, archivePath, font);
    result.sizeLabel = sizeLabel(row, font);
    QLabel *caption = captionLabel(row, font);
    result.progressBar = progressBar(barParent, font);

    layout->addWidget(time);
    layout->addWidget(path);
    layout->addStretch(1);
    layout->addWidget(result.sizeLabel);
    layout->addWidget(caption);
    layout->addWidget(result.progressBar);
    layout->setAlignment(Qt::AlignCenter);
    layout->setContentsMargins(36, 2, 5, 0);

    row->setLayout(layout);
    row->resize(800, 50);
    row->show();

    auto *item = new QListWidgetItem(list, QListWidgetItem::Type);
    list->setItemWidget(item, row);
    return result;
}

void markLogRowFailed(QLabel *sizeLabel, QProgressBar *bar)
{
    sizeLabel->setText(QStringLiteral("压缩失败"));
    styleBar(bar, QStringLiteral("#e74c3c"));
}

QString sizeText(double mebibytes)
{
    return QString::number(mebibytes, 'f', 2) + QStringLiteral(" MB");
}
