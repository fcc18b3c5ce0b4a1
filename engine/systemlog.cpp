#include "systemlog.h"

#include "printablename.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <pthread.h>
#include <syslog.h>
#endif

namespace {

struct Entry
{
    SystemLog::Event id;
    SystemLog::Type type;
    std::string text; // "<id>: <text>" in UTF-8
};

#ifdef Q_OS_WIN

WORD eventType(SystemLog::Type type)
{
    switch (type) {
    case SystemLog::Type::Warning:
        return EVENTLOG_WARNING_TYPE;
    case SystemLog::Type::Error:
        return EVENTLOG_ERROR_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

// The message table in halcyon.exe gives each ID the text "%1": the Event Viewer shows our
// text once the installer has registered the source, and still shows it, beside a note that
// the description cannot be found, where nobody did (the portable zip).
void write(const Entry &entry)
{
    static const HANDLE source = RegisterEventSourceW(nullptr, L"Halcyon");
    if (!source)
        return;
    const std::wstring message = QString::fromStdString(entry.text).toStdWString();
    const wchar_t *strings[] = {message.c_str()};
    ReportEventW(source, eventType(entry.type), 0, DWORD(entry.id), nullptr, 1, 0, strings, nullptr);
}

#else

int priority(SystemLog::Type type)
{
    switch (type) {
    case SystemLog::Type::Warning:
        return LOG_WARNING;
    case SystemLog::Type::Error:
        return LOG_ERR;
    default:
        return LOG_INFO;
    }
}

void write(const Entry &entry)
{
    static const bool opened = (openlog("halcyon", LOG_PID, LOG_USER), true);
    Q_UNUSED(opened);
    syslog(LOG_USER | priority(entry.type), "%s", entry.text.c_str());
}

#endif

bool isFailureRecord(SystemLog::Event id)
{
    return id == SystemLog::ArchiveFailed || id == SystemLog::DirectoryUnreadable;
}

// A log service that hangs (a full journal, a stuck event log) must not hold the job: the
// messages go out on a thread of their own, and beyond kMaxQueued waiting ones the events of
// single backups are dropped. A job's end always goes in, and says how many of its failures
// did not, so that monitoring still sees every job end and knows what it missed.
class Writer
{
public:
    void push(Entry entry)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (entry.id == SystemLog::JobEnded) {
            addDroppedClause(entry);
        } else if (m_queue.size() >= kMaxQueued) {
            m_droppedFailures += isFailureRecord(entry.id) ? 1 : 0;
            return;
        }
        if (!m_started) {
            try {
                // Detached: it must never keep the process from ending.
                std::thread([this] { loop(); }).detach();
                m_started = true;
            } catch (const std::system_error &) {
                // No thread to be had (out of memory): this message goes out here.
                lock.unlock();
                write(entry);
                return;
            }
        }
        m_queue.push_back(std::move(entry));
    }

    // A log that takes each message slowly is waited for; one that takes none is not.
    void flush(int stallMsecs, int totalMsecs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMsecs);
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto done = [this] { return m_queue.empty() && !m_writing; };
        while (!done()) {
            const quint64 writtenBefore = m_written;
            const auto until = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(stallMsecs));
            m_idle.wait_until(lock, until, done);
            if (done() || m_written == writtenBefore || std::chrono::steady_clock::now() >= deadline)
                return;
        }
    }

private:
    void addDroppedClause(Entry &entry)
    {
        if (m_droppedFailures == 0)
            return;
        entry.text += QStringLiteral("；另有 %1 条失败记录因系统日志繁忙未能写入").arg(m_droppedFailures).toStdString();
        m_droppedFailures = 0;
    }

    void loop()
    {
#ifdef Q_OS_LINUX
        // Not the name of the thread that started it (the worker's, which tools watch for).
        pthread_setname_np(pthread_self(), "halcyon-log");
#endif
        std::unique_lock<std::mutex> lock(m_mutex);
        // Ends once all is written, so that no thread outlives a job; the next report starts
        // another.
        while (!m_queue.empty()) {
            const Entry entry = std::move(m_queue.front());
            m_queue.pop_front();
            m_writing = true;
            lock.unlock();
            write(entry);
            lock.lock();
            m_writing = false;
            ++m_written;
        }
        m_started = false;
        m_idle.notify_all();
    }

    static constexpr size_t kMaxQueued = 1000;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::deque<Entry> m_queue;
    bool m_started = false;
    bool m_writing = false;
    quint64 m_written = 0;
    quint64 m_droppedFailures = 0; // since the last job's end was queued
};

// Never destroyed: the detached thread may still use it while the process ends.
Writer &writer()
{
    static Writer *instance = new Writer;
    return *instance;
}

} // namespace

void SystemLog::report(Event id, Type type, const QString &text)
{
    const QString line = QString::number(int(id)) + QStringLiteral(": ") + PrintableName::text(text);
    writer().push({id, type, line.toStdString()});
}

void SystemLog::flush(int stallMsecs, int totalMsecs)
{
    writer().flush(stallMsecs, totalMsecs);
}
