#include "boxcloser.h"
#include "compresstask.h"
#include "gbktext.h"
#include "lineeditpath.h"
#include "messages.h"
#include "monitorlist.h"
#include "schedulefile.h"
#include "testfiles.h"
#include "vesper.h"
#include "wholefile.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QLockFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

const QString kEmptySource = Messages::emptySource();
const QString kEmptyOutput = Messages::emptyOutputDirectory();
const QString kEmptyOutputPath = Messages::emptyOutputPath();
const QString kUnattendedBusy = Messages::unattendedBusy();
const QString kWorkerBusy = Messages::workerBusy();
const QString kNotFound = Messages::nothingFound();

// Answers the directory chooser: with a directory, or by cancelling when it is empty.
class ChooserAnswer : public QObject
{
public:
    explicit ChooserAnswer(const QString &directory)
    {
        QTimer::singleShot(0, this, [this, directory] { answer(directory); });
    }
    QString caption;
    bool seen = false;

private:
    void answer(const QString &directory)
    {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(10, this, [this, directory] { answer(directory); });
            return;
        }
        seen = true;
        caption = dialog->windowTitle();
        if (directory.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(directory);
        dialog->selectFile(directory);
        static_cast<QDialog *>(dialog)->accept();
    }
};

} // namespace

class VesperTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void refusals_data();
    void refusals();
    void toggleSwitchesControls();
    void scheduleEndingByItselfShowsOff();
    void lateFinishReportNeverWaitsForNewerJob();
    void runNowFillsRows();
    void missingDirectoryAndNothingFound();
    void longPathIsElided();
    void pathsSurviveRestart();
    void scheduleRestoredAtStart_data();
    void scheduleRestoredAtStart();
    void chooserCancelTouchesNothing();
    void eachChooserWritesItsOwnFile();
    void closeMidJobKeepsOlderArchive();

private:
    void makeWindow();
    template <typename T> T *widget(const char *name) { return m_window->findChild<T *>(name); }
    CompressTask *worker() { return m_window->findChild<CompressTask *>(); }
    void setPaths(const QString &source, const QString &output);
    void startBusyJob();
    QString archive(const QString &name) const { return m_dir->filePath("out/" + name); }

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<Vesper> m_window;
    QString m_previousCurrent;
};

void VesperTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_previousCurrent = QDir::currentPath();
    // The path files live in the working directory.
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QDir().mkpath("src");
}

void VesperTest::cleanup()
{
    if (m_window)
        m_window->close();
    m_window.reset();
    QDir::setCurrent(m_previousCurrent);
}

void VesperTest::makeWindow()
{
    m_window.reset(new Vesper);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.data()));
}

void VesperTest::setPaths(const QString &source, const QString &output)
{
    writeFile("filepath.ini", gbk(source));
    writeFile("CompressFileFath.ini", gbk(output));
    if (source.isEmpty())
        QFile::remove("filepath.ini");
    if (output.isEmpty())
        QFile::remove("CompressFileFath.ini");
    makeWindow();
}

// A run-now job on a large zero-filled file keeps the worker busy for a while.
void VesperTest::startBusyJob()
{
    QVERIFY(makeSparse(m_dir->filePath("busy/zeros.bak"), qint64(3) << 30));
    LineEditPath *source = widget<LineEditPath>("lePath");
    const QString kept = source->text();
    source->setText(m_dir->filePath("busy"));
    widget<QPushButton>("btnRightNowStart")->click();
    source->setText(kept);
    QTRY_VERIFY(!worker()->isIdle());
    QTRY_COMPARE(m_window->findChild<QListWidget *>("listWidget")->count(), 1);
}

void VesperTest::refusals_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("withSource");
    QTest::addColumn<bool>("withOutput");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("message");

    QTest::newRow("run now, both empty") << "btnRightNowStart" << false << false << "ready" << kEmptySource;
    QTest::newRow("run now, output empty") << "btnRightNowStart" << true << false << "ready" << kEmptyOutput;
    QTest::newRow("run now, unattended on") << "btnRightNowStart" << true << true << "unattended" << kUnattendedBusy;
    QTest::newRow("run now, worker busy") << "btnRightNowStart" << true << true << "busy" << kWorkerBusy;
    QTest::newRow("run now, busy, source empty") << "btnRightNowStart" << false << true << "busy" << kEmptySource;
    QTest::newRow("toggle, both empty") << "btnStart" << false << false << "ready" << kEmptySource;
    QTest::newRow("run now, path file too large") << "btnRightNowStart" << false << true << "large path file"
                                                  << Messages::pathFileTooLarge("filepath.ini");
    QTest::newRow("toggle, output empty") << "btnStart" << true << false << "ready" << kEmptyOutputPath;
    QTest::newRow("toggle, busy before fields") << "btnStart" << false << false << "busy" << kWorkerBusy;
    QTest::newRow("run now, switched off mid-job") << "btnRightNowStart" << true << true << "stopping" << kWorkerBusy;
    QTest::newRow("toggle, switched off mid-job") << "btnStart" << true << true << "stopping" << kWorkerBusy;
    QTest::newRow("run now, another program's job") << "btnRightNowStart" << true << true << "locked" << kWorkerBusy;
    QTest::newRow("toggle, another program's job") << "btnStart" << true << true << "locked" << kWorkerBusy;
    QTest::newRow("output chosen, not saved") << "leOutputPath" << true << true << "unsaved"
                                              << Messages::pathNotSaved("%1", "%2");
}

void VesperTest::refusals()
{
    QFETCH(QString, button);
    QFETCH(bool, withSource);
    QFETCH(bool, withOutput);
    QFETCH(QString, state);
    QFETCH(QString, message);

    setPaths(m_dir->filePath("src"), m_dir->filePath("out"));
    if (state == "busy")
        startBusyJob();
    QLockFile otherJob(CompressTask::lockPath(m_dir->filePath("out")));
    if (state == "locked")
        QVERIFY(QDir().mkpath("out") && otherJob.tryLock(0));
    if (state == "large path file")
        writeFile("filepath.ini", QByteArray(64 * 1024 + 1, 'a'));
    if (state == "unattended") {
        // Far from now, so the schedule does not fire during the test.
        widget<QTimeEdit>("timeEdit")->setTime(QTime::currentTime().addSecs(3 * 3600));
        widget<QPushButton>("btnStart")->click();
        QVERIFY(!widget<LineEditPath>("lePath")->isEnabled());
    }
    if (state == "stopping") {
        QVERIFY(makeSparse(m_dir->filePath("busy/zeros.bak"), qint64(3) << 30));
        widget<LineEditPath>("lePath")->setText(m_dir->filePath("busy"));
        worker()->setClock([] { return QDateTime(QDate::currentDate(), QTime(8, 0, 30)); }); // the form's 8:00
        widget<QPushButton>("btnStart")->click();
        QTRY_COMPARE(m_window->findChild<QListWidget *>("listWidget")->count(), 1);
        // Shown off at once, while the daily job goes on in the background.
        widget<QPushButton>("btnStart")->click();
        QVERIFY(widget<LineEditPath>("lePath")->isEnabled());
        QVERIFY(worker()->isRunning());
    }
    if (state == "unsaved") {
        // A path file that cannot be replaced: a directory of its name.
        QVERIFY(QFile::remove("CompressFileFath.ini") && QDir().mkdir("CompressFileFath.ini"));
        QVERIFY(QDir().mkdir("out"));
        WholeFile probe("CompressFileFath.ini");
        QVERIFY(!probe.open() && !probe.errorString().isEmpty());
        message = message.arg(m_dir->filePath("out"), probe.errorString());
    }
    if (!withSource)
        widget<LineEditPath>("lePath")->clear();
    if (!withOutput)
        widget<LineEditPath>("leOutputPath")->clear();

    const QString textBefore = widget<QPushButton>("btnStart")->text();
    const int rowsBefore = m_window->findChild<QListWidget *>("listWidget")->count();
    BoxCloser boxes;
    QScopedPointer<ChooserAnswer> chooser;
    if (auto *field = widget<LineEditPath>(qPrintable(button))) {
        chooser.reset(new ChooserAnswer(m_dir->filePath("out")));
        QTest::mouseClick(field, Qt::LeftButton);
    } else {
        widget<QPushButton>(qPrintable(button))->click();
    }
    QTRY_COMPARE(boxes.texts.size(), 1);
    QTest::qWait(50);
    QCOMPARE(boxes.texts, QStringList{message});
    QCOMPARE(boxes.forms.first(),
             QString("' ' icon %1 确定/%2 parent none").arg(QMessageBox::Warning).arg(QMessageBox::AcceptRole));
    // A refusal changes nothing.
    QCOMPARE(widget<QPushButton>("btnStart")->text(), textBefore);
    QCOMPARE(widget<LineEditPath>("lePath")->isEnabled(), state != "unattended");
    QCOMPARE(m_window->findChild<QListWidget *>("listWidget")->count(), rowsBefore);
}

void VesperTest::toggleSwitchesControls()
{
    setPaths(m_dir->filePath("src"), m_dir->filePath("out"));
    auto *toggle = widget<QPushButton>("btnStart");
    QCOMPARE(toggle->text(), QString("  开启"));
    widget<QTimeEdit>("timeEdit")->setTime(QTime::currentTime().addSecs(3 * 3600));

    toggle->click();
    QCOMPARE(toggle->text(), Messages::switchOff());
    QVERIFY(ScheduleFile::read("schedule.ini").on);
    for (const char *name : {"timeEdit", "lePath", "leOutputPath"})
        QVERIFY2(!widget<QWidget>(name)->isEnabled(), name);
    QVERIFY(widget<QPushButton>("btnRightNowStart")->isEnabled());
    QVERIFY(!worker()->isIdle());
    QVERIFY(worker()->isRunning());

    toggle->click();
    QCOMPARE(toggle->text(), Messages::switchOn());
    for (const char *name : {"timeEdit", "lePath", "leOutputPath"})
        QVERIFY2(widget<QWidget>(name)->isEnabled(), name);
    QCOMPARE(toggle->iconSize(), QSize(30, 30));
    QVERIFY(!ScheduleFile::read("schedule.ini").on);
    QTRY_VERIFY(worker()->isIdle());
    QTRY_VERIFY(worker()->isFinished());
}

void VesperTest::scheduleEndingByItselfShowsOff()
{
    setPaths(m_dir->filePath("src"), m_dir->filePath("out"));
    worker()->setClock([] { return QDateTime(QDate::currentDate(), QTime(8, 0, 30)); }); // the form's 8:00
    BoxCloser boxes;
    auto *toggle = widget<QPushButton>("btnStart");
    toggle->click();
    QTRY_COMPARE(boxes.texts, QStringList{kNotFound});
    QTRY_COMPARE(toggle->text(), Messages::switchOn());
    for (const char *name : {"timeEdit", "lePath", "leOutputPath"})
        QVERIFY2(widget<QWidget>(name)->isEnabled(), name);
    // Run now is no longer refused for a schedule that has ended.
    widget<QPushButton>("btnRightNowStart")->click();
    QTRY_COMPARE(boxes.texts, QStringList({kNotFound, kNotFound}));
}

void VesperTest::lateFinishReportNeverWaitsForNewerJob()
{
    writeFile("src/x.bak", "x");
    setPaths(m_dir->filePath("src"), m_dir->filePath("out"));
    widget<QTimeEdit>("timeEdit")->setTime(QTime::currentTime().addSecs(3 * 3600));
    widget<QPushButton>("btnRightNowStart")->click();
    // The job ends while its report waits in the queue, as behind a slow display.
    for (int i = 0; i < 1000 && !worker()->isFinished(); ++i)
        QThread::msleep(10);
    QVERIFY(worker()->isFinished());
    widget<QPushButton>("btnStart")->click();
    QVERIFY(worker()->isRunning());

    // Should the report wait for the daily job, only a stop from here ends that wait.
    std::mutex mutex;
    std::condition_variable wake;
    bool handled = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!wake.wait_for(lock, std::chrono::seconds(5), [&] { return handled; }))
            worker()->stopTask();
    });
    QCoreApplication::processEvents();
    {
        std::lock_guard<std::mutex> lock(mutex);
        handled = true;
    }
    wake.notify_one();
    watchdog.join();
    QVERIFY(worker()->isRunning());
    QCOMPARE(widget<QPushButton>("btnStart")->text(), Messages::switchOff());
}

void VesperTest::runNowFillsRows()
{
    QByteArray big(300 * 1024, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char((quint32(i) * 7919u) >> 5);
    writeFile("src/a.bak", big);
    writeFile("src/b.bak", "small");
    writeFile("src/c.bak", "its archive name is taken by a directory");
    QVERIFY(QDir().mkpath(archive("c.rar")));
    setPaths(m_dir->filePath("src"), m_dir->filePath("out"));

    widget<QPushButton>("btnRightNowStart")->click();
    QTRY_VERIFY(worker()->isIdle());
    QTRY_VERIFY(worker()->isFinished());
    QCoreApplication::processEvents();

    auto *list = m_window->findChild<MonitorList *>("listWidget");
    QTRY_COMPARE(list->count(), 3);
    QTRY_VERIFY(list->rowWidget(2));
    QWidget *failed = list->rowWidget(2);
    QCOMPARE(failed->findChildren<QLabel *>().at(2)->text(), Messages::archiveFailed());
    QVERIFY(failed->findChild<QProgressBar *>()->styleSheet().contains("#e74c3c"));
    const QStringList archives{archive("a.rar"), archive("b.rar")};
    for (int row = 0; row < 2; ++row) {
        QWidget *rowWidget = list->rowWidget(row);
        QVERIFY(rowWidget);
        const QList<QLabel *> labels = rowWidget->findChildren<QLabel *>();
        QCOMPARE(labels.size(), 4);
        QVERIFY(QRegularExpression("^\\d{4}-\\d{1,2}-\\d{1,2} \\d{1,2}:\\d\\d:\\d\\d$")
                    .match(labels[0]->text()).hasMatch());
        // Elided at the right where the path is wider than the label (long Windows temp paths).
        const QString path = labels[1]->text();
        QVERIFY2(path == archives[row]
                     || (path.endsWith(QChar(0x2026)) && archives[row].startsWith(path.chopped(1))),
                 qPrintable(path));
        QCOMPARE(labels[3]->text(), QString("压缩进度"));
        auto *bar = rowWidget->findChild<QProgressBar *>();
        QVERIFY(bar);
        QCOMPARE(bar->value(), 100);
        // The last report measured the archive shortly before it was closed.
        const double mib = QFileInfo(archives[row]).size() / 1048576.0;
        QVERIFY(labels[2]->text().endsWith(" MB"));
        const double shown = labels[2]->text().chopped(3).toDouble();
        QVERIFY2(shown <= mib + 0.005 && shown >= mib - 0.02, qPrintable(labels[2]->text()));
        QCOMPARE(list->visualItemRect(list->item(row)).height(), 30);
    }
    QVERIFY(!failed->toolTip().isEmpty());

    // Again: the two archives still hold their backups and are left as they are.
    widget<QPushButton>("btnRightNowStart")->click();
    QTRY_COMPARE(list->count(), 6);
    QTRY_VERIFY(worker()->isFinished());
    for (int row : {3, 4}) {
        QTRY_VERIFY(list->entry(row).unchanged);
        QCOMPARE(list->entry(row).value, 100);
        QCOMPARE(list->entry(row).mebibytes, QFileInfo(archives[row - 3]).size() / 1048576.0);
    }
    QVERIFY(list->entry(5).failed);
}

void VesperTest::missingDirectoryAndNothingFound()
{
    const QString missing = m_dir->filePath("gone");
    setPaths(missing, m_dir->filePath("out"));
    BoxCloser boxes;
    widget<QPushButton>("btnRightNowStart")->click();
    QTRY_COMPARE(boxes.texts.size(), 2);
    QTRY_VERIFY(worker()->isFinished());
    // The second box opens from within the first one's event loop, on top of it.
    QStringList texts = boxes.texts;
    texts.sort();
    QStringList expected{Messages::noDirectory(missing), kNotFound};
    expected.sort();
    QCOMPARE(texts, expected);
    QCOMPARE(m_window->findChild<QListWidget *>("listWidget")->count(), 0);
}

void VesperTest::longPathIsElided()
{
    const QString deep = m_dir->filePath("out/" + QString("very-long-directory-name/").repeated(8));
    writeFile("src/x.bak", "x");
    setPaths(m_dir->filePath("src"), deep);
    widget<QPushButton>("btnRightNowStart")->click();
    QTRY_VERIFY(worker()->isFinished());
    QCoreApplication::processEvents();
    auto *list = m_window->findChild<MonitorList *>("listWidget");
    QTRY_COMPARE(list->count(), 1);
    QTRY_VERIFY(list->rowWidget(0));
    const QString shown = list->rowWidget(0)->findChildren<QLabel *>().at(1)->text();
    QVERIFY2(shown.endsWith(QChar(0x2026)), qPrintable(shown));
    QVERIFY((deep + "x.rar").startsWith(shown.chopped(1)));
}

void VesperTest::pathsSurviveRestart()
{
    const QString source = m_dir->filePath("数据库备份");
    QDir().mkpath(source);
    makeWindow();
    QVERIFY(widget<LineEditPath>("lePath")->text().isEmpty());

    ChooserAnswer answer(source);
    QTest::mouseClick(widget<LineEditPath>("lePath"), Qt::LeftButton);
    QVERIFY(answer.seen);
    QCOMPARE(answer.caption, QString("请选择磁盘分区"));
    QCOMPARE(widget<LineEditPath>("lePath")->text(), source);
    // Raw GBK bytes, two per Chinese character, nothing else.
    QCOMPARE(readFile("filepath.ini"), gbk(source));
    QCOMPARE(gbk(source).size(), source.toUtf8().size() - 5 * 3 + 5 * 2);

    m_window.reset();
    makeWindow();
    QCOMPARE(widget<LineEditPath>("lePath")->text(), source);
}

void VesperTest::scheduleRestoredAtStart_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("runs"); // once the catch-up minute is over

    const QTime time(6, 45);
    auto last = [time](int daysAgo) {
        return QDateTime(QDate::currentDate().addDays(-daysAgo), time).toUTC().toString(Qt::ISODate).toLatin1();
    };
    QTest::newRow("on, nothing missed") << "[daily]\non=1\ntime=6:45\nlast=" + last(0) + "\n" << true << 0;
    QTest::newRow("on, a slot missed") << "[daily]\non=1\ntime=6:45\nlast=" + last(3) + "\n" << true << 1;
    QTest::newRow("off, a slot missed") << "[daily]\non=0\ntime=6:45\nlast=" + last(1) + "\n" << false << 0;
    QTest::newRow("damaged") << QByteArray("[daily]\non=1\ntime=25:99\n\xff\xfe") << false << 0;
    QTest::newRow("not ours") << QByteArray("on=1\ntime=6:45\n") << false << 0;
}

void VesperTest::scheduleRestoredAtStart()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, on);
    QFETCH(int, runs);
    writeFile("src/x.bak", "x");
    writeFile("filepath.ini", gbk(m_dir->filePath("src")));
    writeFile("CompressFileFath.ini", gbk(m_dir->filePath("out")));
    writeFile("schedule.ini", file);

    // Three hours after the slot, on a clock set before the window restores anything.
    std::atomic<int> minutes{9 * 60};
    m_window.reset(new Vesper);
    worker()->setClock([&minutes] { return QDateTime(QDate::currentDate(), QTime(0, 0).addSecs(minutes * 60)); });
    m_window->show();
    QTRY_COMPARE(widget<QPushButton>("btnStart")->text(), on ? Messages::switchOff() : QString("  开启"));
    QCOMPARE(widget<QTimeEdit>("timeEdit")->time(), on ? QTime(6, 45) : QTime(8, 0));
    auto *list = m_window->findChild<QListWidget *>("listWidget");
    QTest::qWait(450);
    QCOMPARE(list->count(), 0); // not before the catch-up minute
    minutes = 9 * 60 + 2;
    QTest::qWait(650);
    QCOMPARE(list->count(), runs);
    m_window->close();
    QCOMPARE(ScheduleFile::read("schedule.ini").on, on);
}

void VesperTest::chooserCancelTouchesNothing()
{
    writeFile("filepath.ini", gbk("/kept/source"));
    makeWindow();
    ChooserAnswer cancel{QString()};
    QTest::mouseClick(widget<LineEditPath>("lePath"), Qt::LeftButton);
    QVERIFY(cancel.seen);
    QCOMPARE(widget<LineEditPath>("lePath")->text(), QString("/kept/source"));
    QCOMPARE(readFile("filepath.ini"), QByteArray("/kept/source"));

    ChooserAnswer cancelEmpty{QString()};
    QTest::mouseClick(widget<LineEditPath>("leOutputPath"), Qt::LeftButton);
    QVERIFY(cancelEmpty.seen);
    QVERIFY(widget<LineEditPath>("leOutputPath")->text().isEmpty());
    QVERIFY(!QFile::exists("CompressFileFath.ini"));
}

void VesperTest::eachChooserWritesItsOwnFile()
{
    const QString output = m_dir->filePath("out");
    QDir().mkpath(output);
    makeWindow();
    ChooserAnswer answer(output);
    QTest::mouseClick(widget<LineEditPath>("leOutputPath"), Qt::LeftButton);
    QCOMPARE(readFile("CompressFileFath.ini"), output.toUtf8());
    QVERIFY(!QFile::exists("filepath.ini"));
    QVERIFY(widget<LineEditPath>("lePath")->text().isEmpty());
}

void VesperTest::closeMidJobKeepsOlderArchive()
{
    writeFile(archive("zeros.rar"), "previous archive");
    setPaths(m_dir->filePath("busy"), m_dir->filePath("out"));
    startBusyJob();

    QVERIFY(m_window->close());
    QVERIFY(worker()->isFinished());
    QCOMPARE(QDir(m_dir->filePath("out")).entryList(QDir::Files | QDir::Hidden),
             QStringList{"zeros.rar"});
    QCOMPARE(readFile(archive("zeros.rar")), QByteArray("previous archive"));
}

QTEST_MAIN(VesperTest)
#include "vespertest.moc"
