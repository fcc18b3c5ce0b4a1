#include "vesper.h"

#include "compresstask.h"
#include "flatui.h"
#include "messages.h"
#include "monitorlist.h"
#include "myitemdrawer.h"
#include "pathfile.h"
#include "timeeditformat.h"
#include "warningbox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QListView>
#include <QPalette>
#include <QPixmap>

namespace {

const char kSourcePathFile[] = "filepath.ini";
const char kOutputPathFile[] = "CompressFileFath.ini";
const char kSuffix[] = ".bak";

} // namespace

Vesper::Vesper(QWidget *parent)
    : QMainWindow(parent)
{
    ui.setupUi(this);
    fitTimeEditFormat(ui.timeEdit);
    ui.listWidget->setItemDelegate(new MyItemDrawer(ui.listWidget));

    applyFlatStyles();
    m_unattendedOn = false;
    m_compressTask = new CompressTask(this);
    connectWorker();
    ui.listWidget->setStyleSheet(QStringLiteral("background-color:rgba(0,0,0,0)"));
    applyBackground();

    connectControls();
    readSourcePath();
    readOutputPath();
}

Vesper::~Vesper()
{
    // The worker reports into the log, which goes before the worker would.
    m_compressTask->abort();
}

void Vesper::closeEvent(QCloseEvent *event)
{
    // Discards only the archive being written; an older one of that name stays whole.
    m_compressTask->abort();
    // Reports already queued would otherwise still raise boxes after the window is gone.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    QMainWindow::closeEvent(event);
}

void Vesper::applyFlatStyles()
{
    const QString fieldBorder = QStringLiteral("#8a8799");
    const QString fieldFocus = QStringLiteral("#34495E");
    FlatUI::Instance();
    FlatUI::setLineEditQss(ui.lePath, 4, 1, fieldBorder, fieldFocus);
    FlatUI::Instance();
    FlatUI::setLineEditQss(ui.leOutputPath, 4, 1, fieldBorder, fieldFocus);

    const QStringList button{"#626262", "#ffffff", "#323232", "#efefef", "#626262", "#ffffff"};
    for (QPushButton *target : {ui.btnRightNowStart, ui.btnStart}) {
        FlatUI::Instance();
        FlatUI::setPushButtonQss(target, 4, 3, button[0], button[1], button[2], button[3], button[4],
                                 button[5]);
    }
}

void Vesper::connectWorker()
{
    // A row's progress goes straight into the log's mailbox on the worker's thread: queued,
    // each of the thousands of reports a second would wake this thread. The row's reports
    // begin there before its queued row is made.
    connect(m_compressTask, &CompressTask::sendMessage, ui.listWidget, &MonitorList::beginRowReports,
            Qt::DirectConnection);
    connect(m_compressTask, &CompressTask::sendMessage, this, &Vesper::recvMessage);
    connect(m_compressTask, &CompressTask::sendProgress, this, &Vesper::recvProgress,
            Qt::DirectConnection);
    connect(m_compressTask, &CompressTask::sendNoDirMessage, this, &Vesper::recvNoDirMessage);
    connect(m_compressTask, &CompressTask::sendNotFoundMessage, this, &Vesper::recvNotFoundMessage);
    connect(m_compressTask, &CompressTask::sendTaskFinished, this, &Vesper::recvTaskFinished);
    connect(m_compressTask, &CompressTask::sendFailed, this, &Vesper::recvFailed);
    // The end of every job, also of one switched off, which reports nothing itself.
    connect(m_compressTask, &QThread::finished, this, &Vesper::recvWorkerFinished);
}

void Vesper::applyBackground()
{
    QPixmap picture;
    picture.load(QStringLiteral(":/Vesper/Resources/background.jpg"));
    picture = picture.scaled(width(), height(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    setAutoFillBackground(true);
    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(picture));
    setPalette(palette);
}

void Vesper::connectControls()
{
    connect(ui.lePath, &LineEditPath::mouseLeftButtonClicked, this, &Vesper::on_lineEditPathClicked);
    connect(ui.leOutputPath, &LineEditPath::mouseLeftButtonClicked, this,
            &Vesper::on_lineEditOutputPathClicked);
    connect(ui.btnRightNowStart, &QPushButton::clicked, this, &Vesper::on_btnRightNowClicked);
    connect(ui.btnStart, &QPushButton::clicked, this, &Vesper::on_btnStartClicked);
}

bool Vesper::readSourcePath()
{
    return PathFile::read(QString::fromLatin1(kSourcePathFile), ui.lePath);
}

bool Vesper::readOutputPath()
{
    return PathFile::read(QString::fromLatin1(kOutputPathFile), ui.leOutputPath);
}

void Vesper::on_lineEditPathClicked()
{
    PathFile::choose(this, QString::fromLatin1(kSourcePathFile), ui.lePath);
}

void Vesper::on_lineEditOutputPathClicked()
{
    PathFile::choose(this, QString::fromLatin1(kOutputPathFile), ui.leOutputPath);
}

void Vesper::on_btnRightNowClicked()
{
    if (ui.lePath->text().isEmpty())
        return showWarning(Messages::emptySource());
    if (ui.leOutputPath->text().isEmpty())
        return showWarning(Messages::emptyOutputDirectory());
    if (m_unattendedOn)
        return showWarning(Messages::unattendedBusy());
    if (!m_compressTask->isIdle())
        return showWarning(Messages::workerBusy());
    m_compressTask->startTask(ui.lePath->text(), QString::fromLatin1(kSuffix), false, QString(),
                              ui.leOutputPath->text());
}

void Vesper::on_btnStartClicked()
{
    if (m_unattendedOn)
        switchUnattendedOff();
    else
        switchUnattendedOn();
}

// Never waits: a daily job in progress finishes in the background, writing its archives
// whole, and the worker refuses new jobs until its thread has ended.
void Vesper::switchUnattendedOff()
{
    showUnattendedOff();
    m_compressTask->stopTask();
}

void Vesper::showUnattendedOff()
{
    setPathControlsEnabled(true);
    m_unattendedOn = false;
    ui.btnStart->setIcon(QIcon(QStringLiteral(":/Vesper/Resources/start.png")));
    ui.btnStart->setIconSize(QSize(30, 30));
    ui.btnStart->setText(Messages::switchOn());
}

void Vesper::switchUnattendedOn()
{
    if (!m_compressTask->isIdle())
        return showWarning(Messages::workerBusy());
    if (ui.lePath->text().isEmpty())
        return showWarning(Messages::emptySource());
    if (ui.leOutputPath->text().isEmpty())
        return showWarning(Messages::emptyOutputPath());

    ui.btnStart->setIcon(QIcon(QStringLiteral(":/Vesper/Resources/stop.png")));
    ui.btnStart->setIconSize(QSize(30, 30));
    ui.btnStart->setText(Messages::switchOff());
    m_unattendedOn = true;
    setPathControlsEnabled(false);
    const QString runTime = ui.timeEdit->time().toString(QStringLiteral("h:mm"));
    m_compressTask->startTask(ui.lePath->text(), QString::fromLatin1(kSuffix), true, runTime,
                              ui.leOutputPath->text());
}

void Vesper::setPathControlsEnabled(bool enabled)
{
    ui.timeEdit->setEnabled(enabled);
    ui.lePath->setEnabled(enabled);
    ui.leOutputPath->setEnabled(enabled);
}

void Vesper::recvMessage(const QString &filename)
{
    ui.listWidget->setResizeMode(QListView::Adjust);
    ui.listWidget->setAutoScroll(true);
    ui.listWidget->appendRow(filename);
}

// On the worker's thread.
void Vesper::recvProgress(int value, double bytes)
{
    ui.listWidget->reportProgress(value, bytes);
}

void Vesper::recvNoDirMessage(const QString &filePath)
{
    showWarning(Messages::noDirectory(filePath));
}

void Vesper::recvNotFoundMessage()
{
    showWarning(Messages::nothingFound());
}

void Vesper::recvTaskFinished()
{
    // The last row shows its last report now rather than at the next frame.
    ui.listWidget->takeReports();
}

void Vesper::recvWorkerFinished()
{
    // Only this window starts jobs: a busy worker means a newer job already runs.
    if (!m_compressTask->isIdle())
        return;
    ui.listWidget->takeReports();
    // A schedule whose first run found nothing has ended on the worker's side.
    if (m_unattendedOn)
        showUnattendedOff();
}

void Vesper::recvFailed(const QString &)
{
    // The failure follows its own row's report at once, so the newest row is that one.
    ui.listWidget->markNewestFailed();
}
