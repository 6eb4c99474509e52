// Sends this process's standard output to a file that tests read back, and QtTest's own
// log to standard error, so diagnostics printed by any thread can be asserted on.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>
#include <QVector>

#include <cstdio>
#include <unistd.h>

class StdoutCapture {
public:
    StdoutCapture()
    {
        file.setAutoRemove(true);
        file.open();
        fflush(stdout);
        dup2(file.handle(), STDOUT_FILENO);
    }

    // Everything printed since the last call.
    QByteArray takeNew()
    {
        fflush(stdout);
        QFile reader(file.fileName());
        reader.open(QIODevice::ReadOnly);
        const QByteArray all = reader.readAll();
        const QByteArray fresh = all.mid(consumed);
        consumed = all.size();
        return fresh;
    }

    // QtTest arguments that keep its log off the captured stream.
    static QVector<char*> testArguments(int argc, char** argv)
    {
        QVector<char*> args(argv, argv + argc);
        static char o[] = "-o";
        static char target[] = "/dev/stderr,txt";
        args << o << target;
        return args;
    }

private:
    QTemporaryFile file;
    int consumed = 0;
};
