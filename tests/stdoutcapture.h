// Sends this process's standard output to a file that tests read back, and QtTest's own
// log to standard error, so diagnostics printed by any thread can be asserted on.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QTest>
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

    // Runs a test class with standard output captured into *capture and QtTest's own
    // log on standard error.
    template <typename Test, typename Application = QCoreApplication>
    static int exec(int argc, char** argv, StdoutCapture** capture)
    {
        Application app(argc, argv);
        StdoutCapture captured;
        *capture = &captured;
        Test test;
        QVector<char*> args(argv, argv + argc);
        static char o[] = "-o";
        static char target[] = "/dev/stderr,txt";
        args << o << target;
        return QTest::qExec(&test, args.size(), args.data());
    }

private:
    QTemporaryFile file;
    int consumed = 0;
};
