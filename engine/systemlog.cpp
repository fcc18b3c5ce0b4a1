#include "systemlog.h"

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

// A log service that hangs (a full journal, a stuck event log) must not hold the job: the
// messages go out on a thread of their own, and beyond kMaxQueued waiting ones they are
// dropped.
class Writer
{
public:
    void push(Entry entry)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_queue.size() >= kMaxQueued)
            return;
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

    void flush(int msecs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait_for(lock, std::chrono::milliseconds(msecs),
                        [this] { return m_queue.empty() && !m_writing; });
    }

private:
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
    writer().push({id, type, (QString::number(int(id)) + QStringLiteral(": ") + text).toStdString()});
}

void SystemLog::flush(int msecs)
{
    writer().flush(msecs);
}
