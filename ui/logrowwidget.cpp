#include "logrowwidget.h"

#include "flatui.h"
#include "messages.h"
#include "printablename.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

namespace {

void styleBar(QProgressBar *bar, bool failed)
{
    FlatUI::Instance();
    FlatUI::setProgressQss(bar, 16, 3, 10, QStringLiteral("#d3e2e2"),
                           failed ? QStringLiteral("#e74c3c") : QStringLiteral("#6bc235"));
}

QLabel *timeLabel(QWidget *row, const QFont &font)
{
    auto *label = new QLabel(row);
    label->setMaximumSize(150, 25);
    label->setAlignment(Qt::AlignLeft | Qt::AlignHCenter | Qt::AlignVCenter);
    label->setFont(font);
    return label;
}

QLabel *pathLabel(QWidget *row, const QFont &font)
{
    auto *label = new QLabel(row);
    label->setMaximumSize(980, 20);
    label->setMinimumSize(550, 20);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setFont(font);
    label->setContentsMargins(80, 0, 40, 0);
    return label;
}

QLabel *sizeLabel(QWidget *row, const QFont &font)
{
    auto *label = new QLabel(row);
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

QProgressBar *progressBar(QWidget *row, const QFont &font)
{
    auto *bar = new QProgressBar(row);
    bar->setMinimum(0);
    bar->setMaximum(100);
    bar->setMinimumSize(160, 14);
    bar->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    bar->setFont(font);
    bar->setOrientation(Qt::Horizontal);
    styleBar(bar, false);
    return bar;
}

} // namespace

LogRowWidget::LogRowWidget(QWidget *parent)
    : QWidget(parent)
{
    QFont font;
    font.setFamily(QStringLiteral("Microsoft Yahei"));
    font.setPointSize(10);
    m_time = timeLabel(this, font);
    m_path = pathLabel(this, font);
    m_size = sizeLabel(this, font);
    QLabel *caption = captionLabel(this, font);
    m_bar = progressBar(this, font);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_time);
    layout->addWidget(m_path);
    layout->addStretch(1);
    layout->addWidget(m_size);
    layout->addWidget(caption);
    layout->addWidget(m_bar);
    layout->setAlignment(Qt::AlignCenter);
    layout->setContentsMargins(36, 2, 5, 0);
    resize(800, 50);
}

void LogRowWidget::display(const LogEntry &entry)
{
    m_time->setText(entry.created.toString(QStringLiteral("yyyy-M-d h:mm:ss")));
    // Elided to the width a fresh label has before any layout, as rows always were.
    m_path->setText(QFontMetrics(m_path->font())
                        .elidedText(PrintableName::text(entry.archivePath), Qt::ElideRight, m_path->minimumWidth()));
    displayProgress(entry);
}

void LogRowWidget::displayProgress(const LogEntry &entry)
{
    if (entry.failed != m_barFailed) {
        styleBar(m_bar, entry.failed);
        m_barFailed = entry.failed;
    }
    if (entry.value < 0)
        m_bar->reset();
    else
        m_bar->setValue(entry.value);
    setToolTip(PrintableName::text(entry.reason));
    if (entry.failed)
        m_size->setText(Messages::archiveFailed());
    else
        m_size->setText(entry.mebibytes < 0 ? QString()
                        : sizeText(entry.mebibytes) + (entry.unchanged ? QStringLiteral(" ") + Messages::unchanged() : QString()));
}

QString sizeText(double mebibytes)
{
    return QString::number(mebibytes, 'f', 2) + QStringLiteral(" MB");
}
