#include "besidefile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

QString ErrnoText(int code)
{
    return QString::fromLocal8Bit(strerror(code));
}

bool WrittenBeside(const QString& path, QString* final)
{
#ifdef _WIN32
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
        nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *final = path;
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    if (type != FILE_TYPE_DISK)
        return false;
#else
    struct stat st { };
    const QByteArray name = QFile::encodeName(path);
    if (stat(name.constData(), &st) != 0) {
        *final = path;
        // A link to nothing: the file is made where it points, as fopen would.
        return errno == ENOENT && lstat(name.constData(), &st) != 0;
    }
    if (!S_ISREG(st.st_mode) || access(name.constData(), W_OK) != 0)
        return false;
#endif
    const QFileInfo info(path);
    *final = info.isSymLink() ? info.canonicalFilePath() : path;
    return !final->isEmpty();
}

void RemoveFile(const QString& path)
{
#ifdef _WIN32
    DeleteFileW(reinterpret_cast<const wchar_t*>(path.utf16()));
#else
    unlink(QFile::encodeName(path).constData());
#endif
}

FILE* CreateBeside(const QString& final, QString* beside)
{
    for (int tries = 0; tries < 100; ++tries) {
        // Joined, not formatted: a "%1" in the file's name is part of the name.
        *beside = final + QLatin1Char('.')
            + QStringLiteral("%1").arg(
                QRandomGenerator::global()->bounded(0x1000000), 6, 16, QLatin1Char('0'))
            + QStringLiteral(".part");
#ifdef _WIN32
        const int fd = _wopen(reinterpret_cast<const wchar_t*>(beside->utf16()),
            _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
        // What the file was may read and write it, as before.
        struct stat st { };
        const bool existed = stat(QFile::encodeName(final).constData(), &st) == 0;
        const int fd = open(QFile::encodeName(*beside).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
            existed ? st.st_mode & 07777 : 0666);
        if (fd >= 0 && existed)
            fchmod(fd, st.st_mode & 07777);
#endif
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return nullptr;
#ifdef _WIN32
        FILE* file = _fdopen(fd, "wb");
#else
        FILE* file = fdopen(fd, "wb");
#endif
        if (!file) {
            const int error = errno;
#ifdef _WIN32
            _close(fd);
#else
            close(fd);
#endif
            RemoveFile(*beside);
            errno = error;
        }
        return file;
    }
    return nullptr;
}

bool ReplaceWith(const QString& beside, const QString& final, QString* why)
{
#ifdef _WIN32
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(beside.utf16()),
            reinterpret_cast<const wchar_t*>(final.utf16()),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *why = qt_error_string(int(GetLastError()));
    if (why->endsWith(QLatin1Char('.')))
        why->chop(1); // a sentence of the system's, inside ours
#else
    if (rename(QFile::encodeName(beside).constData(), QFile::encodeName(final).constData()) == 0)
        return true;
    *why = ErrnoText(errno);
#endif
    return false;
}
