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
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

class StdoutCapture {
public:
    StdoutCapture()
    {
        file.setAutoRemove(true);
        file.open();
        fflush(stdout);
#ifdef _WIN32
        // The C runtime's descriptor 1 must point at the file; Qt's handle is a Win32 one.
        const int fd
            = _wopen(reinterpret_cast<const wchar_t*>(file.fileName().utf16()), _O_WRONLY | _O_BINARY);
        _dup2(fd, 1);
        _close(fd);
#else
        dup2(file.handle(), STDOUT_FILENO);
#endif
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
