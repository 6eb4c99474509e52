// Sends this process's standard output to a file that tests read back, and QtTest's own
// log to standard error, so diagnostics printed by any thread can be asserted on.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryFile>
#include <QTest>
#include <QVector>

#include <cstdio>

class StdoutCapture {
public:
    StdoutCapture();

    // Everything printed since the last call.
    QByteArray takeNew();

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
#ifdef _WIN32
        // No /dev/stderr: the log goes to a file, copied to standard error at the end.
        QTemporaryFile log;
        log.open();
        QByteArray target = QFile::encodeName(log.fileName()) + ",txt";
        args << o << target.data();
        const int result = QTest::qExec(&test, args.size(), args.data());
        log.seek(0);
        const QByteArray text = log.readAll();
        fwrite(text.constData(), 1, size_t(text.size()), stderr);
        return result;
#else
        static char target[] = "/dev/stderr,txt";
        args << o << target;
        return QTest::qExec(&test, args.size(), args.data());
#endif
    }

private:
    QTemporaryFile file;
    int consumed = 0;
};
