#ifndef PROGRESSMAILBOX_H
#define PROGRESSMAILBOX_H

#include <QMutex>

#include <deque>
#include <vector>

// Progress reports handed from the worker's thread to the window without waking it. The
// worker leaves each row's newest values here; the window takes them once a frame. Waking
// the window for each of some 8000 reports a second cost the job more time than the whole
// handling of the reports.
class ProgressMailbox
{
public:
    struct Report
    {
        int row = 0;
        int value = 0;
        double mebibytes = 0;
        bool fresh = false; // posted since the last take
    };

    // Worker's side, any thread: the reports that follow are a new row's.
    void beginRow();
    // Worker's side: the newest row's values. True when the window has not been told yet
    // that reports wait (once until it takes them).
    bool post(int value, double mebibytes);
    // Window's side: the newest values of the rows below rowCount posted since the last
    // take, oldest row first.
    std::vector<Report> take(int rowCount);

private:
    QMutex m_mutex;
    std::deque<Report> m_rows; // from the oldest row not yet taken; the newest stays
    int m_nextRow = 0;
    bool m_told = false;
};

#endif // PROGRESSMAILBOX_H
