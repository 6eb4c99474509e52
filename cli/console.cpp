#include "console.h"

#include "besidefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
    if (how == DataFileWrite::Beside && WrittenBeside(path, &final)) {
        file = CreateBeside(final, &beside);
        // A file this user may write in a folder where no file may be added: as before.
        if (!file && (errno == EACCES || errno == EPERM) && QFileInfo::exists(final))
            beside.clear();
        else if (!file) {
            *why = ErrnoText(errno);
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
        *why = ErrnoText(errno);
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
    if (written && keep && ReplaceWith(g_besidePath, g_finalPath, &failure))
        return true;
    RemoveFile(g_besidePath);
    if (written && !keep)
        return true;
    *why = QStringLiteral("cannot write %1: %2; it is left as it was")
               .arg(g_dataPath, written ? failure : ErrnoText(g_dataError));
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
