// The exit statuses and the two output streams every subcommand shares.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

// The same in every subcommand.
enum Exit { kDone = 0, kNoAnswer = 1, kUsage = 2, kNoNetwork = 3 };

// A stop request's name as a Linux user knows it, whatever the system (see StopSignal).
inline QString StopSignalName(int n)
{
    return n == 1 ? QStringLiteral("SIGHUP")
        : n == 2  ? QStringLiteral("SIGINT")
        : n == 15 ? QStringLiteral("SIGTERM")
                  : QStringLiteral("signal %1").arg(n);
}

// Both streams carry UTF-8 bytes as written. Windows would otherwise turn each "\n" into
// "\r\n" (CSV's own "\r\n" into "\r\r\n"), and a console would show UTF-8 as its code page.
inline void UseUtf8Streams()
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
#endif
}

// The height of the terminal on standard output; 24 when it does not say.
inline int TerminalRows()
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

// A console on Windows moves the cursor on escape sequences only when asked to.
inline void UseTerminalEscapes()
{
#ifdef _WIN32
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode))
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#endif
}

// A line for people: standard error, at once.
inline void err(const QString& line)
{
    fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
    fflush(stderr);
}

// Data: standard output, at once, so a pipe sees each entry as it comes.
inline void out(const QByteArray& bytes)
{
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}
