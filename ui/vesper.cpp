#include "vesper.h"

#include "compresstask.h"
#include "flatui.h"
#include "messages.h"
#include "monitorlist.h"
#include "myitemdrawer.h"
#include "pathfile.h"
#include "schedulefile.h"
#include "settings.h"
#include "systemlog.h"
#include "timeeditformat.h"
#include "warningbox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QListView>
#include <QPalette>
#include <QPixmap>
#include <QTimer>

namespace {

QString chooserStart()
{
#ifdef Q_OS_WIN
    return QStringLiteral("D:/");
#else
    // No drive letters here: open where the user's own files are.
    return QDir::homePath();
#endif
}

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
    readPath(Settings::sourcePathFile(), ui.lePath);
    readPath(Settings::outputPathFile(), ui.leOutputPath);
    // Once the window is up: switching on may have a box to show.
    QTimer::singleShot(0, this, &Vesper::restoreSchedule);
}

Vesper::~Vesper()
{
    // The worker reports into the log, which goes before the worker would.
    m_compressTask->abort();
}

void Vesper::closeEvent(QCloseEvent *event)
{
    // Discards only the archive being written; an older one of that name stays whole. The
    // daily mode stays saved on: closing is not switching off.
    m_closing = true;
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
    connect(m_compressTask, &CompressTask::sendOutcome, this, &Vesper::recvOutcome);
    // The end of every job, also of one switched off, which reports nothing itself.
    connect(m_compressTask, &QThread::finished, this, &Vesper::recvWorkerFinished);
    connect(m_compressTask, &CompressTask::sendLastSlot, this, &Vesper::recvLastSlot);
    connect(m_compressTask, &CompressTask::sendOutputBusy, this, &Vesper::recvOutputBusy);
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

bool Vesper::readPath(const QString &pathFile, QLineEdit *field)
{
    QString path;
    if (!PathFile::read(pathFile, &path))
        return false;
    field->setText(path);
    return true;
}

// A field left empty by a path file too large to read says so, not that nothing was chosen.
QString Vesper::emptyPathMessage(const QString &pathFile, const QString &emptyMessage)
{
    return PathFile::isTooLarge(pathFile) ? Messages::pathFileTooLarge(pathFile) : emptyMessage;
}

void Vesper::choosePath(const QString &pathFile, QLineEdit *field)
{
    const QString path = QFileDialog::getExistingDirectory(
        this, QStringLiteral("请选择磁盘分区"), chooserStart(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (path.isEmpty())
        return;
    field->setText(path);
    // The path is used until the program ends; the operator learns it will not come back.
    QString reason;
    if (!PathFile::write(pathFile, path, &reason))
        showWarning(Messages::pathNotSaved(path, reason));
}

void Vesper::on_lineEditPathClicked()
{
    choosePath(Settings::sourcePathFile(), ui.lePath);
}

void Vesper::on_lineEditOutputPathClicked()
{
    choosePath(Settings::outputPathFile(), ui.leOutputPath);
}

void Vesper::on_btnRightNowClicked()
{
    if (ui.lePath->text().isEmpty())
        return showWarning(emptyPathMessage(Settings::sourcePathFile(), Messages::emptySource()));
    if (ui.leOutputPath->text().isEmpty())
        return showWarning(emptyPathMessage(Settings::outputPathFile(), Messages::emptyOutputDirectory()));
    if (m_unattendedOn)
        return showWarning(Messages::unattendedBusy());
    // Also another program's job, such as a scheduled halcyon --run.
    if (!m_compressTask->isIdle() || CompressTask::outputBusy(ui.leOutputPath->text()))
        return showWarning(Messages::workerBusy());
    if (!m_compressTask->startTask(ui.lePath->text(), Settings::backupSuffix(), false, QString(),
                                   ui.leOutputPath->text()))
        showWarning(Messages::jobNotStarted());
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

// A mode left on when the program ended (closed, a reboot, a sign-out) comes back on,
// and a slot it missed meanwhile runs once, a minute after this start.
void Vesper::restoreSchedule()
{
    const ScheduleState saved = ScheduleFile::read(Settings::scheduleFile());
    if (!saved.on || m_unattendedOn)
        return;
    ui.timeEdit->setTime(saved.time);
    // A slot it missed meanwhile is caught up.
    m_compressTask->resumeFrom(saved.lastSlot);
    switchUnattendedOn(true);
}

// Written on every change, so that a killed program resumes where it was.
void Vesper::saveSchedule()
{
    ScheduleFile::writeMode(Settings::scheduleFile(), m_unattendedOn, ui.timeEdit->time());
}

// Kept where the worker decides it, for the next start to resume from.
void Vesper::recvLastSlot(const QDateTime &slot)
{
    if (m_unattendedOn)
        ScheduleFile::writeLastSlot(Settings::scheduleFile(), slot);
}

void Vesper::recvOutputBusy()
{
    showWarning(Messages::workerBusy());
}

void Vesper::showUnattendedOff()
{
    setPathControlsEnabled(true);
    m_unattendedOn = false;
    ui.btnStart->setIcon(QIcon(QStringLiteral(":/Vesper/Resources/start.png")));
    ui.btnStart->setIconSize(QSize(30, 30));
    ui.btnStart->setText(Messages::switchOn());
    saveSchedule();
    SystemLog::report(SystemLog::DailyModeSwitched, SystemLog::Type::Information,
                      QStringLiteral("无人值守已关闭：每天 %1 的任务不再执行。").arg(runTime()));
}

void Vesper::switchUnattendedOn(bool restored)
{
    if (!m_compressTask->isIdle())
        return showWarning(Messages::workerBusy());
    if (ui.lePath->text().isEmpty())
        return showWarning(emptyPathMessage(Settings::sourcePathFile(), Messages::emptySource()));
    if (ui.leOutputPath->text().isEmpty())
        return showWarning(emptyPathMessage(Settings::outputPathFile(), Messages::emptyOutputPath()));
    // A restored schedule does not give up on a job of another program: its daily job
    // waits for that one to end.
    if (!restored && CompressTask::outputBusy(ui.leOutputPath->text()))
        return showWarning(Messages::workerBusy());

    ui.btnStart->setIcon(QIcon(QStringLiteral(":/Vesper/Resources/stop.png")));
    ui.btnStart->setIconSize(QSize(30, 30));
    ui.btnStart->setText(Messages::switchOff());
    m_unattendedOn = true;
    setPathControlsEnabled(false);
    saveSchedule();
    SystemLog::report(SystemLog::DailyModeSwitched, SystemLog::Type::Information,
                      QStringLiteral("无人值守已开启%1：每天 %2 执行任务。")
                          .arg(restored ? QStringLiteral("（程序启动时恢复）") : QString(), runTime()));
    // Only a restored mode catches up; switched on by hand it starts afresh.
    if (!restored)
        m_compressTask->resumeFrom(QDateTime());
    if (!m_compressTask->startTask(ui.lePath->text(), Settings::backupSuffix(), true, runTime(),
                                   ui.leOutputPath->text())) {
        showUnattendedOff();
        showWarning(Messages::jobNotStarted());
    }
}

QString Vesper::runTime() const
{
    return ui.timeEdit->time().toString(QStringLiteral("h:mm"));
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
    if (!m_compressTask->isIdle() || m_closing)
        return;
    ui.listWidget->takeReports();
    // A schedule whose first run found nothing has ended on the worker's side.
    if (m_unattendedOn)
        showUnattendedOff();
}

void Vesper::recvOutcome(const ArchiveOutcome &outcome)
{
    ui.listWidget->showOutcome(outcome);
}
