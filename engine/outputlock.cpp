#include "outputlock.h"

#include "printablename.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const char kLockName[] = ".halcyon.lock";
// A lock is a few short lines; more is never read.
constexpr int kMaxLockSize = 512;
// Rounds of create, judge and remove before a name that keeps changing counts as busy.
constexpr int kAttempts = 30;
// A lock being created is empty until its lines are written, a moment later.
constexpr qint64 kBeingWrittenMs = 2000;
constexpr unsigned long kBeingWrittenPauseMs = 100;
constexpr qintptr kNoHandle = -1;

// What stands at the lock's name.
struct Found
{
    enum Kind { Nothing, NotALock, Unreadable, File } kind = Nothing;
    QString what;       // NotALock: what it is; Unreadable: the system's reason
    QByteArray content; // File: its first bytes
    QDateTime modified; // UTC; invalid when unknown
    quint64 device = 0; // POSIX: which entry was judged, so that only that one is removed
    quint64 inode = 0;
    bool isDirectory = false;
};

Found &unreadable(Found &found, const QString &reason)
{
    found.kind = Found::Unreadable;
    found.what = reason;
    return found;
}

// A lock's lines, as QLockFile writes them too: pid, program, host name.
struct Holder
{
    explicit Holder(const QByteArray &content)
    {
        const QList<QByteArray> lines = content.split('\n');
        if (lines.size() < 4 || lines[0].isEmpty() || lines[0].size() > 10)
            return;
        bool number = false;
        pid = lines[0].toLongLong(&number);
        // Whoever wrote the file chose these words: none of them may start a line of the log.
        program = PrintableName::text(QString::fromUtf8(lines[1]));
        host = PrintableName::text(QString::fromUtf8(lines[2]));
        valid = number && pid > 0
            && std::all_of(lines[0].cbegin(), lines[0].cend(), [](char c) { return c >= '0' && c <= '9'; });
    }
    qint64 pid = 0;
    QString program;
    QString host;
    bool valid = false;
};

// Whether a lock is alive, and in words whose it is and why it is not.
struct Judgement
{
    enum Verdict { Alive, Dead, BeingWritten } verdict = Dead;
    QString who;
    QString why;
};

QString shownTime(const QDateTime &utc)
{
    return utc.isValid() ? utc.toLocalTime().toString(QStringLiteral("yyyy-M-d h:mm:ss")) : QStringLiteral("?");
}

QString lockContent()
{
    return QStringLiteral("%1\n%2\n%3\n")
        .arg(QCoreApplication::applicationPid())
        .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName(), QSysInfo::machineHostName());
}

#ifdef Q_OS_WIN

std::wstring nativePath(const QString &path)
{
    const QString absolute = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (absolute.startsWith(QLatin1String("\\\\")))
        return absolute.toStdWString();
    return (QLatin1String("\\\\?\\") + absolute).toStdWString();
}

QDateTime fromFileTime(const FILETIME &time)
{
    constexpr qint64 kTicksFrom1601To1970 = 116444736000000000LL;
    const qint64 ticks = qint64((quint64(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return QDateTime::fromMSecsSinceEpoch((ticks - kTicksFrom1601To1970) / 10000, Qt::UTC);
}

QString lastError()
{
    return qt_error_string(int(GetLastError()));
}

Found inspect(const QString &path)
{
    Found found;
    const std::wstring name = nativePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    // The entry itself: a reparse point (a link, a junction) is not followed.
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            unreadable(found, qt_error_string(int(error)));
        return found;
    }
    found.modified = fromFileTime(data.ftLastWriteTime);
    found.isDirectory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    found.kind = Found::NotALock;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        found.what = QStringLiteral("链接");
    else if (found.isDirectory)
        found.what = QStringLiteral("目录");
    else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)
        found.what = QStringLiteral("设备");
    if (!found.what.isEmpty())
        return found;
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return unreadable(found, lastError());
    char buffer[kMaxLockSize];
    DWORD count = 0;
    const bool isFile = GetFileType(file) == FILE_TYPE_DISK;
    const bool read = isFile && ReadFile(file, buffer, DWORD(sizeof buffer), &count, nullptr);
    const QString error = lastError();
    CloseHandle(file);
    if (!isFile) {
        found.what = QStringLiteral("设备");
        return found;
    }
    if (!read)
        return unreadable(found, error);
    found.kind = Found::File;
    found.content = QByteArray(buffer, int(count));
    return found;
}

// A link to a directory and a junction are removed as directories, themselves.
bool removeEntry(const QString &path, const Found &found, QString *reason)
{
    const std::wstring name = nativePath(path);
    if (found.isDirectory ? RemoveDirectoryW(name.c_str()) : DeleteFileW(name.c_str()))
        return true;
    const DWORD error = GetLastError();
    *reason = qt_error_string(int(error));
    return error == ERROR_FILE_NOT_FOUND;
}

// Held without FILE_SHARE_DELETE: no other job removes it while this one runs.
qintptr createLockFile(const QString &path, const QByteArray &content, bool *exists, QString *reason)
{
    const std::wstring name = nativePath(path);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *reason = qt_error_string(int(error));
        *exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
            || (error == ERROR_ACCESS_DENIED && GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES);
        return kNoHandle;
    }
    DWORD written = 0;
    if (WriteFile(file, content.constData(), DWORD(content.size()), &written, nullptr)
        && written == DWORD(content.size()))
        return reinterpret_cast<qintptr>(file);
    *reason = lastError();
    *exists = false;
    FILE_DISPOSITION_INFO dispose = {TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
    CloseHandle(file);
    return kNoHandle;
}

void touch(qintptr handle)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SetFileTime(reinterpret_cast<HANDLE>(handle), nullptr, nullptr, &now);
}

// Through the handle: whatever else came to stand at the name stays.
void release(qintptr handle, const QString &)
{
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    FILE_DISPOSITION_INFO dispose = {TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
    CloseHandle(file);
}

QString imageName(HANDLE process)
{
    wchar_t buffer[MAX_PATH * 4];
    DWORD size = DWORD(sizeof buffer / sizeof buffer[0]);
    if (!QueryFullProcessImageNameW(process, 0, buffer, &size))
        return QString();
    return QFileInfo(QString::fromWCharArray(buffer, int(size))).fileName().toLower();
}

// Running, and whether it runs this program.
bool processRuns(qint64 pid, bool *thisProgram)
{
    *thisProgram = false;
    if (pid <= 0 || pid > qint64(MAXDWORD))
        return false;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    const QString theirs = imageName(process);
    *thisProgram = runs && !theirs.isEmpty() && theirs == imageName(GetCurrentProcess());
    CloseHandle(process);
    return runs;
}

#else

QString kindOf(mode_t mode)
{
    if (S_ISLNK(mode))
        return QStringLiteral("符号链接");
    if (S_ISDIR(mode))
        return QStringLiteral("目录");
    if (S_ISFIFO(mode))
        return QStringLiteral("FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("套接字");
    return QStringLiteral("设备");
}

Found inspect(const QString &path)
{
    Found found;
    const QByteArray name = QFile::encodeName(path);
    struct stat entry;
    if (::lstat(name.constData(), &entry) != 0) {
        if (errno != ENOENT)
            unreadable(found, qt_error_string(errno));
        return found;
    }
    found.modified = QDateTime::fromMSecsSinceEpoch(qint64(entry.st_mtim.tv_sec) * 1000 + entry.st_mtim.tv_nsec / 1000000,
                                                    Qt::UTC);
    found.device = quint64(entry.st_dev);
    found.inode = quint64(entry.st_ino);
    found.isDirectory = S_ISDIR(entry.st_mode);
    if (!S_ISREG(entry.st_mode)) {
        found.kind = Found::NotALock;
        found.what = kindOf(entry.st_mode);
        return found;
    }
    // A FIFO or a device put there since the lstat is neither waited for nor read.
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return unreadable(found, qt_error_string(errno));
    struct stat opened;
    char buffer[kMaxLockSize];
    const bool same = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_ino == entry.st_ino
        && opened.st_dev == entry.st_dev;
    const ssize_t count = same ? ::read(fd, buffer, sizeof buffer) : 0;
    const int error = errno;
    ::close(fd);
    if (!same)
        return Found(); // changed meanwhile: looked at again
    if (count < 0)
        return unreadable(found, qt_error_string(error));
    found.kind = Found::File;
    found.content = QByteArray(buffer, int(count));
    return found;
}

// The entry judged, itself: a link is removed, never its target.
bool removeEntry(const QString &path, const Found &found, QString *reason)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat entry;
    if (::lstat(name.constData(), &entry) != 0) {
        const int error = errno;
        *reason = qt_error_string(error);
        return error == ENOENT;
    }
    // Another job took it over first: what is there now is judged again.
    if (quint64(entry.st_dev) != found.device || quint64(entry.st_ino) != found.inode)
        return true;
    if ((S_ISDIR(entry.st_mode) ? ::rmdir(name.constData()) : ::unlink(name.constData())) == 0)
        return true;
    const int error = errno;
    *reason = qt_error_string(error);
    return error == ENOENT;
}

qintptr createLockFile(const QString &path, const QByteArray &content, bool *exists, QString *reason)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const int error = errno;
    if (fd < 0) {
        *exists = error == EEXIST;
        *reason = qt_error_string(error);
        return kNoHandle;
    }
    errno = 0;
    if (::write(fd, content.constData(), size_t(content.size())) == ssize_t(content.size()))
        return fd;
    // A short write sets no error: the disk is full.
    *exists = false;
    *reason = qt_error_string(errno != 0 ? errno : ENOSPC);
    ::unlink(name.constData());
    ::close(fd);
    return kNoHandle;
}

void touch(qintptr handle)
{
    ::futimens(int(handle), nullptr);
}

// Only while the name is still this lock's: whatever else came to stand there stays.
void release(qintptr handle, const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat held;
    struct stat entry;
    if (::fstat(int(handle), &held) == 0 && ::lstat(name.constData(), &entry) == 0 && held.st_ino == entry.st_ino
        && held.st_dev == entry.st_dev)
        ::unlink(name.constData());
    ::close(int(handle));
}

QString executableName(const QByteArray &link)
{
    char buffer[PATH_MAX];
    const ssize_t size = ::readlink(link.constData(), buffer, sizeof buffer);
    if (size <= 0)
        return QString();
    // An upgrade replaces the program's file while the old one runs.
    QString path = QFile::decodeName(QByteArray(buffer, int(size)));
    if (path.endsWith(QLatin1String(" (deleted)")))
        path.chop(10);
    return QFileInfo(path).fileName();
}

// Running, and whether it runs this program (known on Linux only).
bool processRuns(qint64 pid, bool *thisProgram)
{
    *thisProgram = false;
    if (pid <= 0 || pid > INT_MAX || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
        return false;
    const QString theirs = executableName("/proc/" + QByteArray::number(pid) + "/exe");
    *thisProgram = !theirs.isEmpty() && theirs == executableName("/proc/self/exe");
    return true;
}

#endif

bool recent(const QDateTime &modified, const QDateTime &now)
{
    return modified.isValid() && qAbs(modified.secsTo(now)) < OutputLock::kStaleSecs;
}

Judgement judge(const Found &found, const QDateTime &now)
{
    const QString updated = QStringLiteral("最后更新于 %1").arg(shownTime(found.modified));
    const QString stale = QStringLiteral("超过 %1 分钟未更新").arg(OutputLock::kStaleSecs / 60);
    if (found.kind == Found::NotALock)
        return {Judgement::Dead, found.what, QStringLiteral("不是锁文件")};
    if (found.kind == Found::Unreadable)
        return {recent(found.modified, now) ? Judgement::Alive : Judgement::Dead,
                QStringLiteral("无法读取的锁文件（%1），%2").arg(found.what, updated), stale};
    const Holder holder(found.content);
    if (!holder.valid) {
        const bool young = found.modified.isValid() && qAbs(found.modified.msecsTo(now)) < kBeingWrittenMs;
        return {young ? Judgement::BeingWritten : Judgement::Dead,
                QStringLiteral("内容无法识别的锁文件，%1").arg(updated), QStringLiteral("内容无法识别")};
    }
    const bool thisHost = holder.host.isEmpty() || holder.host == QSysInfo::machineHostName();
    const QString who = QStringLiteral("主机 %1 上的进程 %2（%3），%4")
                            .arg(thisHost ? QSysInfo::machineHostName() : holder.host,
                                 QString::number(holder.pid), holder.program, updated);
    if (!thisHost)
        return {recent(found.modified, now) ? Judgement::Alive : Judgement::Dead, who, stale};
    bool thisProgram = false;
    if (!processRuns(holder.pid, &thisProgram))
        return {Judgement::Dead, who, QStringLiteral("进程已不在运行")};
    // Another program under a reused pid, or a pid written there to stop the job, is known
    // by its lock going stale like another host's.
    return {thisProgram || recent(found.modified, now) ? Judgement::Alive : Judgement::Dead, who, stale};
}

} // namespace

OutputLock::OutputLock(const QString &outputDir, Clock clock)
    : m_path(path(outputDir))
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
    , m_handle(kNoHandle)
{
}

OutputLock::~OutputLock()
{
    unlock();
}

QString OutputLock::path(const QString &outputDir)
{
    return QDir(outputDir).filePath(QLatin1String(kLockName));
}

bool OutputLock::busy(const QString &outputDir)
{
    const Found found = inspect(path(outputDir));
    return found.kind != Found::Nothing && judge(found, QDateTime::currentDateTimeUtc()).verdict != Judgement::Dead;
}

bool OutputLock::isHeld() const
{
    return m_handle != kNoHandle;
}

OutputLock::Outcome OutputLock::tryLock()
{
    if (isHeld())
        return Outcome::Held;
    m_reason.clear();
    m_takenOver.clear();
    const QByteArray content = lockContent().toUtf8();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool exists = false;
        m_handle = createLockFile(m_path, content, &exists, &m_reason);
        if (isHeld()) {
            m_reason.clear();
            m_lastRefresh = m_clock();
            return Outcome::Held;
        }
        if (!exists)
            return Outcome::Unavailable;
        const Found found = inspect(m_path);
        if (found.kind == Found::Nothing)
            continue;
        const Judgement judged = judge(found, m_clock());
        if (judged.verdict == Judgement::Alive) {
            m_reason = QStringLiteral("输出目录的锁 %1 正被使用（%2）").arg(m_path, judged.who);
            m_takenOver.clear();
            return Outcome::Busy;
        }
        if (judged.verdict == Judgement::BeingWritten) {
            QThread::msleep(kBeingWrittenPauseMs);
            continue;
        }
        QString reason;
        if (!removeEntry(m_path, found, &reason)) {
            m_reason = QStringLiteral("输出目录的锁 %1（%2）无法接管：%3").arg(m_path, judged.who, reason);
            m_takenOver.clear();
            return Outcome::Busy;
        }
        m_takenOver = QStringLiteral("%1（%2）：%3").arg(m_path, judged.who, judged.why);
    }
    m_reason = QStringLiteral("输出目录的锁 %1 一再被替换，无法取得").arg(m_path);
    m_takenOver.clear();
    return Outcome::Busy;
}

void OutputLock::refresh()
{
    if (!isHeld())
        return;
    const QDateTime now = m_clock();
    if (m_lastRefresh.isValid() && qAbs(m_lastRefresh.secsTo(now)) < kRefreshSecs)
        return;
    touch(m_handle);
    m_lastRefresh = now;
}

void OutputLock::unlock()
{
    if (!isHeld())
        return;
    release(m_handle, m_path);
    m_handle = kNoHandle;
}
