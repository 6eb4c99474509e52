#include "console.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {
FILE* g_data = nullptr; // null: standard output
bool g_dataFailed = false;
int g_dataError = 0; // errno of the first write that failed
QString g_dataPath; // --output's
QString g_finalPath; // the name the file written beside takes at the end
QString g_besidePath; // empty: written directly

QString errnoText(int code)
{
    return QString::fromLocal8Bit(strerror(code));
}

// Whether path is written beside, as a file on disk (or none yet) is, and then under which
// name: a link's target. Anything else (a device, a pipe, a folder, a file this user may
// not write) is opened directly, which says what is wrong with it as before.
bool writtenBeside(const QString& path, QString* final)
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

void removeFile(const QString& path)
{
#ifdef _WIN32
    DeleteFileW(reinterpret_cast<const wchar_t*>(path.utf16()));
#else
    unlink(QFile::encodeName(path).constData());
#endif
}

// A new file beside final, not there before; null with errno.
FILE* createBeside(const QString& final, QString* beside)
{
    for (int tries = 0; tries < 100; ++tries) {
        *beside = QStringLiteral("%1.%2.part")
                      .arg(final)
                      .arg(QRandomGenerator::global()->bounded(0x1000000), 6, 16, QLatin1Char('0'));
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
            removeFile(*beside);
            errno = error;
        }
        return file;
    }
    return nullptr;
}

// Gives the file written beside its final name, over the one there; false with the reason.
bool replaceWith(const QString& beside, const QString& final, QString* why)
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
    *why = errnoText(errno);
#endif
    return false;
}

#ifdef _WIN32
HANDLE streamHandle(int stream)
{
    return GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}
#endif
}

ConsoleCalls SystemConsoleCalls()
{
#ifdef _WIN32
    return {
        [](int stream, unsigned* mode) {
            DWORD m = 0;
            if (!GetConsoleMode(streamHandle(stream), &m))
                return false;
            *mode = m;
            return true;
        },
        [](int stream, unsigned mode) { return SetConsoleMode(streamHandle(stream), mode) != 0; },
        [] { return unsigned(GetConsoleOutputCP()); },
        [](unsigned page) { return SetConsoleOutputCP(page) != 0; },
    };
#else
    return {
        [](int stream, unsigned* mode) {
            *mode = kVirtualTerminalMode;
            return isatty(stream) == 1;
        },
        [](int, unsigned) { return true; },
        [] { return kUtf8CodePage; },
        [](unsigned) { return true; },
    };
#endif
}

ConsoleState::ConsoleState(const ConsoleCalls& calls)
    : m_calls(calls)
{
}

void ConsoleState::useUtf8()
{
    unsigned mode = 0;
    const bool console = m_calls.getMode(1, &mode) || m_calls.getMode(2, &mode);
    const unsigned page = m_calls.outputCodePage();
    if (!console || page == 0 || page == kUtf8CodePage)
        return;
    if (m_calls.setOutputCodePage(kUtf8CodePage))
        m_codePage = page;
}

bool ConsoleState::useEscapes(int stream)
{
    unsigned mode = 0;
    if (stream < 1 || stream > 2 || !m_calls.getMode(stream, &mode))
        return false;
    if (mode & kVirtualTerminalMode)
        return true;
    // A console from before the flag refuses it; one that says yes and drops it is no
    // better, so the mode is read back.
    unsigned now = 0;
    if (!m_calls.setMode(stream, mode | kVirtualTerminalMode))
        return false;
    if (!m_calls.getMode(stream, &now) || !(now & kVirtualTerminalMode)) {
        m_calls.setMode(stream, mode);
        return false;
    }
    m_modes[stream] = mode;
    m_modeChanged[stream] = true;
    return true;
}

void ConsoleState::restore()
{
    if (m_restored.exchange(true))
        return;
    for (int stream : { 2, 1 }) {
        if (m_modeChanged[stream])
            m_calls.setMode(stream, m_modes[stream]);
    }
    if (m_codePage != 0)
        m_calls.setOutputCodePage(m_codePage);
}

ConsoleState& ProgramConsole()
{
    static ConsoleState state(SystemConsoleCalls());
    return state;
}

void UseUtf8Streams()
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    ProgramConsole().useUtf8();
    std::atexit(RestoreConsole);
}

void RestoreConsole()
{
    ProgramConsole().restore();
}

int TerminalRows()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Bottom - info.srWindow.Top + 1;
#else
    winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0)
        return size.ws_row;
#endif
    return 24;
}

bool OpenDataFile(const QString& path, DataFileWrite how, QString* why)
{
    QString final;
    QString beside;
    FILE* file = nullptr;
    if (how == DataFileWrite::Beside && writtenBeside(path, &final)) {
        file = createBeside(final, &beside);
        // A file this user may write in a folder where no file may be added: as before.
        if (!file && (errno == EACCES || errno == EPERM) && QFileInfo::exists(final))
            beside.clear();
        else if (!file) {
            *why = errnoText(errno);
            return false;
        }
    }
    if (!file) {
        errno = 0;
#ifdef _WIN32
        file = _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"wb");
#else
        file = fopen(QFile::encodeName(path).constData(), "wb");
#endif
    }
    if (!file) {
        *why = errnoText(errno);
        return false;
    }
    g_data = file;
    g_dataFailed = false;
    g_dataError = 0;
    g_dataPath = path;
    g_finalPath = final;
    g_besidePath = beside;
    return true;
}

bool CloseDataFile(bool keep, QString* why)
{
    if (!g_data)
        return true;
    const bool closed = fclose(g_data) == 0;
    if (!closed && !g_dataFailed)
        g_dataError = errno;
    const bool written = closed && !g_dataFailed;
    g_data = nullptr;
    if (g_besidePath.isEmpty()) {
        if (!written)
            *why = QStringLiteral("%1 is incomplete: a write to it failed").arg(g_dataPath);
        return written;
    }
    QString failure;
    if (written && keep && replaceWith(g_besidePath, g_finalPath, &failure))
        return true;
    removeFile(g_besidePath);
    if (written && !keep)
        return true;
    *why = QStringLiteral("cannot write %1: %2; it is left as it was")
               .arg(g_dataPath, written ? failure : errnoText(g_dataError));
    return false;
}

FILE* DataFile()
{
    return g_data;
}

bool DataWriteFailed()
{
    return g_dataFailed;
}

void out(const QByteArray& bytes)
{
    FILE* to = g_data ? g_data : stdout;
    if (fwrite(bytes.constData(), 1, size_t(bytes.size()), to) != size_t(bytes.size()) || fflush(to) != 0) {
        if (!g_dataFailed)
            g_dataError = errno;
        g_dataFailed = true;
    }
}
