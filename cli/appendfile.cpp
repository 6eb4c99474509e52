#include "appendfile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <optional>
#include <utility>

#ifdef _WIN32
#include <QCryptographicHash>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// clang-format off
#include <sddl.h>
// clang-format on

#include <string>
#include <vector>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
using FileId = std::pair<quint64, quint64>;

#ifdef _WIN32
const wchar_t* nativeName(const QString& path)
{
    return reinterpret_cast<const wchar_t*>(path.utf16());
}

// The volume's serial number and the file's index, as a file opened by this name has them.
std::optional<FileId> fileId(const QString& path)
{
    const HANDLE handle = CreateFileW(nativeName(QDir::toNativeSeparators(path)), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info {};
    const bool known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!known)
        return std::nullopt;
    return FileId { info.dwVolumeSerialNumber, (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow };
}

// A file made readable and writable by this user alone, wherever it is made: its owner and
// one entry for the user, protected from whatever the folder would pass on.
class OwnerOnly {
public:
    OwnerOnly()
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> user(size);
        wchar_t* sid = nullptr;
        if (size && GetTokenInformation(token, TokenUser, user.data(), size, &size)
            && ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
            const std::wstring descriptor
                = L"O:" + std::wstring(sid) + L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
            ConvertStringSecurityDescriptorToSecurityDescriptorW(
                descriptor.c_str(), SDDL_REVISION_1, &m_attributes.lpSecurityDescriptor, nullptr);
            LocalFree(sid);
        }
        CloseHandle(token);
        m_attributes.nLength = sizeof m_attributes;
    }
    ~OwnerOnly()
    {
        if (m_attributes.lpSecurityDescriptor)
            LocalFree(m_attributes.lpSecurityDescriptor);
    }
    OwnerOnly(const OwnerOnly&) = delete;
    OwnerOnly& operator=(const OwnerOnly&) = delete;
    SECURITY_ATTRIBUTES* attributes() { return m_attributes.lpSecurityDescriptor ? &m_attributes : nullptr; }

private:
    SECURITY_ATTRIBUTES m_attributes {};
};

HANDLE osHandle(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

qint64 sizeOf(HANDLE handle)
{
    LARGE_INTEGER size {};
    return GetFileSizeEx(handle, &size) ? qint64(size.QuadPart) : -1;
}
#else
// The device and inode of the file the name leads to, links followed as an open would.
std::optional<FileId> fileId(const QString& path)
{
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId { quint64(st.st_dev), quint64(st.st_ino) };
}

qint64 sizeOf(int fd)
{
    struct stat st { };
    return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
}

// Why an opened log cannot be kept: its owner and mode as the descriptor has them, so a
// name swapped after the open changes nothing. Empty when it can.
QString refusal(int fd)
{
    struct stat st { };
    if (::fstat(fd, &st) != 0)
        return qt_error_string(errno);
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("is not a regular file");
    // Another user could read the record and change it, or have it grow without end.
    if (st.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user (uid %1); a log must be its writer's own")
            .arg(st.st_uid);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("group or others may write to it (mode %1); make it 0600")
            .arg(uint(st.st_mode & 07777), 4, 8, QLatin1Char('0'));
    return QString();
}

// The runs that share a log take turns around each write, so that the size before it is
// still theirs to go back to after a short one. Advisory: a writer that takes no turn is
// caught by the size check instead.
class Turn {
public:
    explicit Turn(int fd)
        : m_fd(fd)
        , m_held(::flock(fd, LOCK_EX) == 0)
    {
    }
    ~Turn()
    {
        if (m_held)
            ::flock(m_fd, LOCK_UN);
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

private:
    int m_fd;
    bool m_held;
};
#endif
}

AppendFile::~AppendFile()
{
#ifdef _WIN32
    if (m_turns)
        CloseHandle(m_turns);
    if (m_fd != -1)
        _close(m_fd);
#else
    if (m_fd != -1)
        ::close(m_fd);
#endif
}

bool AppendFile::open(const QString& path, QString* why)
{
    why->clear();
#ifdef _WIN32
    // FILE_APPEND_DATA without FILE_WRITE_DATA: writes go to the end, whatever the file
    // position. Shared for reading, writing and deleting, as Qt opens files. A reparse
    // point is opened as itself, not followed, and refused below. A file made here gets the
    // user's own security; one that is there keeps its own.
    OwnerOnly security;
    if (!security.attributes()) {
        *why = QStringLiteral("cannot make it private: %1").arg(qt_error_string(int(GetLastError())));
        return false;
    }
    const HANDLE handle = CreateFileW(nativeName(QDir::toNativeSeparators(path)),
        FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security.attributes(), OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *why = qt_error_string(int(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info {};
    if (!GetFileInformationByHandle(handle, &info))
        *why = qt_error_string(int(GetLastError()));
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        *why = QStringLiteral("is a folder");
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        *why = QStringLiteral("is a link (a reparse point), which the log never follows");
    if (!why->isEmpty()) {
        CloseHandle(handle);
        return false;
    }
    // A descriptor, for the wait until it is on disk; _O_APPEND keeps the C library from
    // writing anywhere but the end too.
    m_fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (m_fd == -1) {
        CloseHandle(handle);
        *why = QStringLiteral("cannot open a descriptor for it");
        return false;
    }
    // Windows appends each write whole by itself; Wine writes at the end it found a moment
    // before, so there two runs could still overwrite each other. Runs on the same file
    // take turns by a mutex named after it (by its path: a name may not hold one).
    const QByteArray key = QCryptographicHash::hash(
        QFileInfo(path).absoluteFilePath().toLower().toUtf8(), QCryptographicHash::Sha256)
                               .toHex();
    m_turns = CreateMutexW(nullptr, FALSE, nativeName(QStringLiteral("Local\\devicesearch-append-") + key));
    return true;
#else
    // 0600 from the start, whatever the umask; O_NONBLOCK so that a FIFO at the name
    // fails instead of waiting for a reader (it changes nothing for a regular file).
    int fd = -1;
    do
        fd = ::open(QFile::encodeName(path).constData(),
            O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    while (fd == -1 && errno == EINTR);
    if (fd == -1) {
        const int error = errno;
        *why = error == ELOOP ? QStringLiteral("is a symbolic link, which the log never follows")
            : error == EISDIR ? QStringLiteral("is a folder")
            : error == ENXIO  ? QStringLiteral("is not a regular file")
                              : qt_error_string(error);
        return false;
    }
    *why = refusal(fd);
    if (!why->isEmpty()) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
#endif
}

bool AppendFile::append(const QByteArray& bytes, QString* why)
{
    qint64 written = -1;
    bool takenBack = false;
#ifdef _WIN32
    // Without the mutex (or after a wait that long) the write goes ahead alone: a line in
    // the log matters more than its turn.
    const DWORD waited = m_turns ? WaitForSingleObject(m_turns, 2000) : WAIT_FAILED;
    const bool turn = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    const HANDLE handle = osHandle(m_fd);
    const qint64 before = sizeOf(handle);
    DWORD done = 0;
    const bool ok = WriteFile(handle, bytes.constData(), DWORD(bytes.size()), &done, nullptr);
    const int error = ok ? 0 : int(GetLastError());
    written = done;
    if (written > 0 && written < bytes.size())
        takenBack = takeBack(before, written);
    if (turn)
        ReleaseMutex(m_turns);
#else
    const Turn turn(m_fd);
    const qint64 before = sizeOf(m_fd);
    ssize_t n = -1;
    do
        n = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
    while (n == -1 && errno == EINTR);
    const int error = n == -1 ? errno : 0;
    written = n;
    if (written > 0 && written < bytes.size())
        takenBack = takeBack(before, written);
#endif
    if (written == bytes.size())
        return true;
    if (written <= 0)
        *why = error ? qt_error_string(error) : QStringLiteral("nothing could be written");
    else
        *why = QStringLiteral("a write stopped after %1 of %2 bytes (is the disk full?); %3")
                   .arg(written)
                   .arg(bytes.size())
                   .arg(takenBack ? QStringLiteral("the part written was taken back")
                                  : QStringLiteral("a part of a line stays at its end"));
    return false;
}

// Cuts the file back to before, where a write of written bytes began: only while nothing
// has come after it, so no other run's line is lost.
bool AppendFile::takeBack(qint64 before, qint64 written)
{
#ifdef _WIN32
    const HANDLE handle = osHandle(m_fd);
    if (before < 0 || sizeOf(handle) != before + written)
        return false;
    // The append-only handle cannot set the end; one more to the very same file can.
    const HANDLE cutter = ReOpenFile(handle, GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_FLAG_OPEN_REPARSE_POINT);
    if (cutter == INVALID_HANDLE_VALUE)
        return false;
    FILE_END_OF_FILE_INFO end {};
    end.EndOfFile.QuadPart = before;
    const bool cut = SetFileInformationByHandle(cutter, FileEndOfFileInfo, &end, sizeof(end));
    CloseHandle(cutter);
    return cut;
#else
    if (before < 0 || sizeOf(m_fd) != before + written)
        return false;
    int cut = -1;
    do
        cut = ::ftruncate(m_fd, off_t(before));
    while (cut == -1 && errno == EINTR);
    return cut == 0;
#endif
}

bool SameFile(const QString& a, const QString& b)
{
#ifdef _WIN32
    const Qt::CaseSensitivity names = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity names = Qt::CaseSensitive;
#endif
    if (QDir::cleanPath(QFileInfo(a).absoluteFilePath())
            .compare(QDir::cleanPath(QFileInfo(b).absoluteFilePath()), names)
        == 0)
        return true;
    const std::optional<FileId> first = fileId(a);
    return first && first == fileId(b);
}
