#include "progressmailbox.h"

#include <QMutexLocker>

void ProgressMailbox::beginRow()
{
    QMutexLocker locker(&m_mutex);
    Report row;
    row.row = m_nextRow++;
    m_rows.push_back(row);
}

bool ProgressMailbox::post(int value, double mebibytes)
{
    QMutexLocker locker(&m_mutex);
    if (m_rows.empty())
        return false; // no row to show it
    Report &newest = m_rows.back();
    newest.value = value;
    newest.mebibytes = mebibytes;
    newest.fresh = true;
    const bool tell = !m_told;
    m_told = true;
    return tell;
}

std::vector<ProgressMailbox::Report> ProgressMailbox::take(int rowCount)
{
    QMutexLocker locker(&m_mutex);
    m_told = false;
    std::vector<Report> taken;
    for (Report &row : m_rows) {
        if (row.row >= rowCount)
            break;
        if (row.fresh)
            taken.push_back(row);
        row.fresh = false;
    }
    // The newest row may still get reports; a row the window has not made yet keeps its own.
    while (m_rows.size() > 1 && m_rows.front().row < rowCount)
        m_rows.pop_front();
    return taken;
}
