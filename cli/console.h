// The exit statuses and the two output streams every subcommand shares.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// The same in every subcommand.
enum Exit { kDone = 0, kNoAnswer = 1, kUsage = 2, kNoNetwork = 3 };

// A line for people: standard error, at once.
inline void err(const QString& line)
{
    fputs(qPrintable(line + QLatin1Char('\n')), stderr);
    fflush(stderr);
}

// Data: standard output, at once, so a pipe sees each entry as it comes.
inline void out(const QByteArray& bytes)
{
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}
