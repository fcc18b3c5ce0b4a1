#include "wholefile.h"

#include "systemerror.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int kNameAttempts = 100;
// What the system answers to a rename onto a directory and to a write into a read-only file.
#ifdef Q_OS_WIN
constexpr int kNameIsDirectory = ERROR_ACCESS_DENIED;
constexpr int kReadOnly = ERROR_ACCESS_DENIED;
#else
constexpr int kNameIsDirectory = EISDIR;
constexpr int kReadOnly = EACCES;
#endif

// A name only this program makes, so that what an interrupted job left can be told from an
// operator's own files beside the archive (Nightly.rar.backup).
const char kTemporaryTag[] = ".halcyon-";
const char kTemporaryEnd[] = ".tmp";
constexpr int kRandomLength = 6;

QString randomSuffix()
{
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix = QLatin1String(kTemporaryTag);
    for (int i = 0; i < kRandomLength; ++i)
        suffix += QLatin1Char(kAlphabet[QRandomGenerator::global()->bounded(62)]);
    return suffix + QLatin1String(kTemporaryEnd);
}

// A link is replaced at its target, as an editor saving through it would.
QString resolveLinks(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.filePath();
}

#ifdef Q_OS_WIN
// The \\?\ form, absolute and with backslashes, which the system takes beyond 260 characters.
std::wstring nativePath(const QString &path)
{
    const QString absolute = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (absolute.startsWith(QLatin1String("\\\\?\\")))
        return absolute.toStdWString();
    if (absolute.startsWith(QLatin1String("\\\\")))
        return (QLatin1String("\\\\?\\UNC\\") + absolute.mid(2)).toStdWString();
    return (QLatin1String("\\\\?\\") + absolute).toStdWString();
}

// Windows 10 1809 and later (NTFS); MinGW's headers leave them out.
constexpr auto kFileRenameInfoEx = FILE_INFO_BY_HANDLE_CLASS(22);
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;

// FILE_RENAME_INFO as FileRenameInfoEx reads it: flags in place of ReplaceIfExists.
struct RenameInfoEx
{
    DWORD flags;
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[1];
};

// Replaces the older file's name while its readers keep the older file, where the system
// and the file system (NTFS) can; a classic rename fails on any open target, also one
// opened with FILE_SHARE_DELETE.
bool renameOverReaders(const std::wstring &from, const std::wstring &to)
{
    const HANDLE file = CreateFileW(from.c_str(), DELETE | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD nameBytes = DWORD(to.size() * sizeof(WCHAR));
    std::vector<char> buffer(offsetof(RenameInfoEx, fileName) + nameBytes + sizeof(WCHAR), 0);
    auto *info = reinterpret_cast<RenameInfoEx *>(buffer.data());
    info->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    info->fileNameLength = nameBytes;
    std::memcpy(info->fileName, to.c_str(), nameBytes);
    const bool renamed = SetFileInformationByHandle(file, kFileRenameInfoEx, info, DWORD(buffer.size()));
    CloseHandle(file);
    return renamed;
}

// What Windows answers while another program has the older file open without
// FILE_SHARE_DELETE; a read-only file or a directory (a link to one among them) gives the
// same answer and never gets better.
bool mayBeHeld(DWORD error, const std::wstring &target)
{
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION)
        return false;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES
        || !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// Sleeps ms in slices short enough that a cancelled job ends within a fraction of a second.
bool sleepUnlessCancelled(int ms, const WholeFile::Cancelled &cancelled)
{
    for (int slept = 0; slept < ms; slept += 100) {
        if (cancelled && cancelled())
            return false;
        QThread::msleep(unsigned(std::min(100, ms - slept)));
    }
    return !(cancelled && cancelled());
}
#endif

// The entry itself is a link (a reparse point on Windows), whatever it points to.
bool isLink(const QString &path)
{
#ifdef Q_OS_WIN
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISLNK(status.st_mode);
#endif
}

} // namespace

WholeFile::WholeFile(const QString &finalPath, Links links)
    : m_links(links)
    , m_finalPath(links == Links::Followed ? resolveLinks(finalPath) : finalPath)
{
}

WholeFile::~WholeFile()
{
    discard();
}

bool WholeFile::open()
{
    m_error.clear();
    if (!checkFinal() || !createTemporary())
        return false;
    // Readers of the older file keep reading the new one.
    const QFileInfo existing(m_finalPath);
    if (m_links == Links::Followed && existing.exists())
        m_file.setPermissions(existing.permissions());
    return true;
}

bool WholeFile::checkFinal()
{
    // A link is replaced itself, whatever it points to.
    if (m_links == Links::Replaced && isLink(m_finalPath))
        return true;
    const QFileInfo existing(m_finalPath);
    if (existing.isDir())
        return fail(qt_error_string(kNameIsDirectory));
    if (existing.exists() && !existing.isWritable())
        return fail(qt_error_string(kReadOnly));
    return true;
}

bool WholeFile::createTemporary()
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        m_temporaryPath = m_finalPath + randomSuffix();
        if (openNewTemporary())
            return true;
        // Anything but a name already taken will not get better with another name.
        if (!QFileInfo::exists(m_temporaryPath) && !isLink(m_temporaryPath))
            break;
    }
    m_temporaryPath.clear();
    return false;
}

// Never through a link at the name, which O_EXCL refuses; readable by its owner alone until
// its permissions are set. Open for reading too: a writer may check what it patches in place.
bool WholeFile::openNewTemporary()
{
#ifndef Q_OS_WIN
    if (m_links == Links::Replaced) {
        const int fd = ::open(QFile::encodeName(m_temporaryPath).constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return fail(qt_error_string(errno));
        if (m_file.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle))
            return true;
        ::close(fd);
        ::unlink(QFile::encodeName(m_temporaryPath).constData());
        return fail(m_file.errorString());
    }
#endif
    m_file.setFileName(m_temporaryPath);
    return m_file.open(QIODevice::ReadWrite | QIODevice::NewOnly) || fail(m_file.errorString());
}

bool WholeFile::setPermissionsOf(const QFileDevice &source)
{
#ifdef Q_OS_WIN
    Q_UNUSED(source);
    return true;
#else
    struct stat status;
    if (::fstat(source.handle(), &status) != 0 || ::fchmod(m_file.handle(), status.st_mode & 0777) != 0)
        return fail(qt_error_string(errno));
    return true;
#endif
}

bool WholeFile::commit(const Cancelled &cancelled)
{
    if (!m_file.isOpen())
        return false;
    if (!syncAndClose() || !replaceFinal(cancelled)) {
        discard();
        return false;
    }
    m_temporaryPath.clear();
    return true;
}

bool WholeFile::commitNew()
{
    if (!m_file.isOpen())
        return false;
    if (!syncAndClose() || !placeNew()) {
        discard();
        return false;
    }
    m_temporaryPath.clear();
    return true;
}

void WholeFile::discard()
{
    if (m_temporaryPath.isEmpty())
        return;
    m_file.close();
    QFile::remove(m_temporaryPath);
    m_temporaryPath.clear();
}

// Errors that only show here (a network share, a failing disk at write-back) would
// otherwise put an archive in place that the disk never kept.
bool WholeFile::syncAndClose()
{
    const SystemError flushing;
    if (!m_file.flush())
        return fail(flushing.reasonFor(m_file));
#if defined(Q_OS_WIN)
    const bool synced = ::_commit(m_file.handle()) == 0;
#elif defined(Q_OS_LINUX)
    const bool synced = ::fdatasync(m_file.handle()) == 0;
#else
    const bool synced = ::fsync(m_file.handle()) == 0;
#endif
    if (!synced)
        return fail(qt_error_string());
    m_file.close();
    return m_file.error() == QFileDevice::NoError || fail(m_file.errorString());
}

bool WholeFile::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

bool WholeFile::replaceFinal(const Cancelled &cancelled)
{
#ifdef Q_OS_WIN
    const std::wstring from = nativePath(m_temporaryPath);
    const std::wstring to = nativePath(m_finalPath);
    QElapsedTimer waited;
    waited.start();
    for (int backoff = 50;; backoff = std::min(backoff * 2, 1000)) {
        // Elsewhere, and while a reader holds the older file without FILE_SHARE_DELETE, the
        // classic rename answers.
        if (renameOverReaders(from, to)
            || MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (!mayBeHeld(error, to) || waited.elapsed() >= kHeldRetryMs
            || !sleepUnlessCancelled(backoff, cancelled))
            return fail(qt_error_string(int(error)));
    }
#else
    Q_UNUSED(cancelled);
    // A link at the final name is replaced itself.
    return ::rename(QFile::encodeName(m_temporaryPath).constData(),
                    QFile::encodeName(m_finalPath).constData())
        == 0
        || fail(qt_error_string());
#endif
}

// In one step, so that nothing can come between a look at the name and the rename.
bool WholeFile::placeNew()
{
#ifdef Q_OS_WIN
    return MoveFileExW(nativePath(m_temporaryPath).c_str(), nativePath(m_finalPath).c_str(), MOVEFILE_WRITE_THROUGH)
        || fail(qt_error_string(int(GetLastError())));
#else
    const QByteArray from = QFile::encodeName(m_temporaryPath);
    const QByteArray to = QFile::encodeName(m_finalPath);
#ifdef Q_OS_LINUX
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return fail(qt_error_string(errno));
#endif
    // A file system that cannot rename so: a second name, which never replaces either.
    if (::link(from.constData(), to.constData()) != 0)
        return fail(qt_error_string(errno));
    ::unlink(from.constData());
    return true;
#endif
}

QStringList WholeFile::leftovers(const QString &directory)
{
    // Matched by name before anything is asked of the file system about each entry.
    QDir dir(directory, QLatin1String("*") + QLatin1String(kTemporaryTag) + QString(kRandomLength, QLatin1Char('?'))
                            + QLatin1String(kTemporaryEnd),
             QDir::NoSort, QDir::Files | QDir::Hidden | QDir::System);
    QStringList found;
    for (const QString &name : dir.entryList())
        found << dir.filePath(name);
    return found;
}

bool WholeFile::isTemporaryOf(const QString &temporaryPath, const QString &finalPath)
{
    const QString name = QFileInfo(temporaryPath).fileName();
    const QString prefix = QFileInfo(finalPath).fileName() + QLatin1String(kTemporaryTag);
    const QStringRef random = name.midRef(prefix.size(), kRandomLength);
    return name.size() == prefix.size() + kRandomLength + int(qstrlen(kTemporaryEnd)) && name.startsWith(prefix)
        && name.endsWith(QLatin1String(kTemporaryEnd))
        && std::all_of(random.cbegin(), random.cend(),
                       [](QChar c) { return c.isLetterOrNumber() && c.unicode() < 0x80; });
}
