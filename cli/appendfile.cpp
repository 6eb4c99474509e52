#include "appendfile.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>

#ifdef _WIN32
#include <QCryptographicHash>
#include <QDir>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

AppendFile::~AppendFile()
{
#ifdef _WIN32
    if (m_turns)
        CloseHandle(m_turns);
#endif
}

bool AppendFile::open(const QString& path, QString* why)
{
#ifdef _WIN32
    // FILE_APPEND_DATA without FILE_WRITE_DATA: writes go to the end, whatever the file
    // position. Shared for reading, writing and deleting, as Qt opens files.
    const HANDLE handle
        = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
            FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *why = qt_error_string(int(GetLastError()));
        return false;
    }
    // A descriptor for QFile, which then owns the handle; _O_APPEND keeps the C library
    // from writing anywhere but the end too, and no _O_TEXT means no CRLF.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        *why = QStringLiteral("cannot open a descriptor for it");
        return false;
    }
    if (!m_file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        _close(fd);
        *why = m_file.errorString();
        return false;
    }
    // Windows appends each write whole by itself; Wine writes at the end it found a moment
    // before, so there two runs could still overwrite each other. Runs on the same file
    // take turns by a mutex named after it (by its path: a name may not hold one).
    const QByteArray key = QCryptographicHash::hash(
        QFileInfo(path).absoluteFilePath().toLower().toUtf8(), QCryptographicHash::Sha256)
                               .toHex();
    m_turns = CreateMutexW(nullptr, FALSE,
        reinterpret_cast<const wchar_t*>((QStringLiteral("Local\\devicesearch-append-") + key).utf16()));
    return true;
#else
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *why = m_file.errorString();
        return false;
    }
    return true;
#endif
}

bool AppendFile::append(const QByteArray& bytes, QString* why)
{
#ifdef _WIN32
    // Without the mutex (or after a wait that long) the write goes ahead alone: a line in
    // the log matters more than its turn.
    const DWORD waited = m_turns ? WaitForSingleObject(m_turns, 2000) : WAIT_FAILED;
    const bool turn = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
#endif
    // QFile hands on what fits its buffer at the flush and anything longer at once: one
    // write of the system either way.
    const bool written = m_file.write(bytes) == bytes.size() && m_file.flush();
#ifdef _WIN32
    if (turn)
        ReleaseMutex(m_turns);
#endif
    if (!written)
        *why = m_file.errorString();
    return written;
}
