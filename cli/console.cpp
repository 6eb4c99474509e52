#include "console.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {
FILE* g_data = nullptr; // null: standard output
bool g_dataFailed = false;

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

FILE* OpenDataFile(const QString& path, QString* why)
{
    errno = 0;
#ifdef _WIN32
    FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"wb");
#else
    FILE* file = fopen(QFile::encodeName(path).constData(), "wb");
#endif
    if (!file)
        *why = QString::fromLocal8Bit(strerror(errno));
    return file;
}

void SetDataFile(FILE* file)
{
    g_data = file;
    g_dataFailed = false;
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
    if (fwrite(bytes.constData(), 1, size_t(bytes.size()), to) != size_t(bytes.size()) || fflush(to) != 0)
        g_dataFailed = true;
}
