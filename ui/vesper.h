#ifndef VESPER_H
#define VESPER_H

#include <QDateTime>
#include <QMainWindow>

#include "ui_vesper.h"

struct ArchiveOutcome;
class CompressTask;
class QCloseEvent;
class QLineEdit;

// The program's only window: two path fields, run now, the daily unattended mode
// and the monitor log. All compression happens on the one CompressTask worker.
class Vesper : public QMainWindow
{
    Q_OBJECT

public:
    explicit Vesper(QWidget *parent = nullptr);
    ~Vesper() override;

protected:
    // Ends the worker before the window goes, so closing never waits for a whole job.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_lineEditPathClicked();
    void on_lineEditOutputPathClicked();
    void on_btnRightNowClicked();
    void recvMessage(const QString &filename);
    void recvProgress(int value, double bytes);
    void recvNoDirMessage(const QString &filePath);
    void recvNotFoundMessage();
    void recvTaskFinished();
    void on_btnStartClicked();
    void recvOutcome(const ArchiveOutcome &outcome);
    void recvWorkerFinished();
    void recvLastSlot(const QDateTime &slot);
    void recvOutputBusy();
    void restoreSchedule();

private:
    void applyFlatStyles();
    void connectWorker();
    void applyBackground();
    void connectControls();
    bool readPath(const QString &pathFile, QLineEdit *field);
    static QString emptyPathMessage(const QString &pathFile, const QString &emptyMessage);
    void choosePath(const QString &pathFile, QLineEdit *field);
    void switchUnattendedOff();
    void showUnattendedOff();
    void switchUnattendedOn(bool restored = false);
    void saveSchedule();
    QString runTime() const;
    void setPathControlsEnabled(bool enabled);

    bool m_unattendedOn = false;
    bool m_closing = false;
    CompressTask *m_compressTask = nullptr;
    Ui::VesperClass ui;
};

#endif // VESPER_H
