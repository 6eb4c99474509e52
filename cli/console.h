// The exit statuses and the two output streams every subcommand shares.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
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
