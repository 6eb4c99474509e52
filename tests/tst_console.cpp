// What the command line changes in its console and puts back, the log's writes at the end
// of a run, and (on Windows) the console's events as the system delivers them.
#include "assignlog.h"
#include "console.h"
#include "stopsignals.h"

#include <QtTest>

#ifdef _WIN32
#include <windows.h>
// clang-format off
#include <aclapi.h>
// clang-format on
#else
#include <sys/stat.h>
#endif

namespace {
// A console as a test sets it up; every change is counted.
struct FakeConsole {
    bool console[3] = {}; // by stream
    unsigned mode[3] = {};
    bool takesModes = true; // SetConsoleMode says yes
    bool keepsModes = true; // and the mode reads back so
    unsigned page = 0;
    bool takesPages = true;
    int modeSets = 0;
    int pageSets = 0;
} g_fake;

const ConsoleCalls kFakeCalls {
    [](int stream, unsigned* mode) {
        *mode = g_fake.mode[stream];
        return g_fake.console[stream];
    },
    [](int stream, unsigned mode) {
        ++g_fake.modeSets;
        if (g_fake.takesModes && g_fake.keepsModes)
            g_fake.mode[stream] = mode;
        return g_fake.takesModes;
    },
    [] { return g_fake.page; },
    [](unsigned page) {
        ++g_fake.pageSets;
        if (g_fake.takesPages)
            g_fake.page = page;
        return g_fake.takesPages;
    },
};

AssignRow row(int k, AssignStatus status)
{
    AssignRow r;
    r.planned.sn = QStringLiteral("SN%1").arg(k, 4, 10, QLatin1Char('0'));
    r.planned.ip = 0x0a020000u + quint32(k);
    r.planned.mask = 0xffff0000u;
    r.planned.gateway = 0x0a020001u;
    r.status = status;
    return r;
}

int linesIn(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : -1;
}

#ifdef _WIN32
// Windows delivers a console event by starting CtrlRoutine on a new thread of the process.
bool deliverAsWindowsDoes(DWORD event)
{
    HMODULE kernel = GetModuleHandleW(L"kernelbase.dll");
    const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "CtrlRoutine") : nullptr));
    if (!routine)
        return false;
    HANDLE thread = CreateThread(nullptr, 0, routine, reinterpret_cast<void*>(DWORD_PTR(event)), 0, nullptr);
    if (!thread)
        return false;
    CloseHandle(thread);
    return true;
}
#endif
}

class TestConsole : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { g_fake = FakeConsole(); }
    void escapesOnlyWhereTheConsoleTakesThem_data();
    void escapesOnlyWhereTheConsoleTakesThem();
    void codePageChangedForAConsoleAndPutBack_data();
    void codePageChangedForAConsoleAndPutBack();
    void theRealConsoleIsLeftAsItWas();
    void finalLinesThenOneWaitForTheDisk_data();
    void finalLinesThenOneWaitForTheDisk();
    void aLogItMakesIsItsUsersAlone();
    // Last: a closed console's handler never returns.
    void consoleEventsReachTheLoop_data();
    void consoleEventsReachTheLoop();
};

void TestConsole::initTestCase()
{
#ifdef _WIN32
    // As a program started in a new process group inherits it: Ctrl-C ignored.
    QVERIFY(SetConsoleCtrlHandler(nullptr, TRUE));
#endif
}

void TestConsole::escapesOnlyWhereTheConsoleTakesThem_data()
{
    QTest::addColumn<bool>("console");
    QTest::addColumn<unsigned>("before");
    QTest::addColumn<bool>("takes");
    QTest::addColumn<bool>("keeps");
    QTest::addColumn<bool>("escapes");
    QTest::newRow("a pipe or a file") << false << 0u << true << true << false;
    QTest::newRow("a console that takes the mode") << true << 3u << true << true << true;
    QTest::newRow("a console that acts on them already") << true << 7u << true << true << true;
    QTest::newRow("a console from before the mode") << true << 3u << false << true << false;
    QTest::newRow("a console that says yes and drops it") << true << 3u << true << false << false;
}

// The mode is asked for only where needed, and whatever was changed is put back at the end.
void TestConsole::escapesOnlyWhereTheConsoleTakesThem()
{
    QFETCH(bool, console);
    QFETCH(unsigned, before);
    QFETCH(bool, takes);
    QFETCH(bool, keeps);
    QFETCH(bool, escapes);
    for (int stream : { 1, 2 }) {
        init();
        g_fake.console[stream] = console;
        g_fake.mode[stream] = before;
        g_fake.takesModes = takes;
        g_fake.keepsModes = keeps;
        ConsoleState state(kFakeCalls);
        QCOMPARE(state.useEscapes(stream), escapes);
        QCOMPARE(g_fake.mode[stream], escapes ? (before | kVirtualTerminalMode) : before);
        state.restore();
        state.restore();
        QCOMPARE(g_fake.mode[stream], before);
        QCOMPARE(g_fake.modeSets, console && !(before & kVirtualTerminalMode) ? (takes ? 2 : 1) : 0);
    }
}

void TestConsole::codePageChangedForAConsoleAndPutBack_data()
{
    QTest::addColumn<bool>("out");
    QTest::addColumn<bool>("error");
    QTest::addColumn<unsigned>("page");
    QTest::addColumn<bool>("takes");
    QTest::addColumn<unsigned>("during");
    QTest::addColumn<int>("sets");
    QTest::newRow("both streams to files or pipes") << false << false << 936u << true << 936u << 0;
    QTest::newRow("output on a Chinese console") << true << true << 936u << true << 65001u << 2;
    QTest::newRow("output to a file, messages on the console")
        << false << true << 437u << true << 65001u << 2;
    QTest::newRow("a console in UTF-8 already") << true << true << 65001u << true << 65001u << 0;
    QTest::newRow("a console that refuses") << true << false << 850u << false << 850u << 1;
    QTest::newRow("no console at all") << true << true << 0u << true << 0u << 0;
}

void TestConsole::codePageChangedForAConsoleAndPutBack()
{
    QFETCH(bool, out);
    QFETCH(bool, error);
    QFETCH(unsigned, page);
    QFETCH(bool, takes);
    QFETCH(unsigned, during);
    QFETCH(int, sets);
    g_fake.console[1] = out;
    g_fake.console[2] = error;
    g_fake.page = page;
    g_fake.takesPages = takes;
    ConsoleState state(kFakeCalls);
    state.useUtf8();
    QCOMPARE(g_fake.page, during);
    // At exit and again from a handler's _exit: put back once.
    state.restore();
    state.restore();
    QCOMPARE(g_fake.page, page);
    QCOMPARE(g_fake.pageSets, sets);
}

// Windows' own calls on the console this test was started in (tests/wine/suite runs it so
// on a terminal): the program changes the code page while it runs, and leaves it and the
// mode as they were on a normal end and on a usage error.
void TestConsole::theRealConsoleIsLeftAsItWas()
{
#ifndef _WIN32
    QSKIP("a Windows console's code page and mode");
#else
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(output, &mode))
        QSKIP("standard output is no console here");
    const UINT page = GetConsoleOutputCP();
    if (page == CP_UTF8)
        QSKIP("the console is in UTF-8 already");
    {
        ConsoleState state(SystemConsoleCalls());
        state.useUtf8();
        QCOMPARE(GetConsoleOutputCP(), UINT(CP_UTF8));
        QVERIFY(state.useEscapes(1));
        state.restore();
    }
    DWORD now = 0;
    QVERIFY(GetConsoleMode(output, &now));
    QCOMPARE(now, mode);
    QCOMPARE(GetConsoleOutputCP(), page);

    const QString cli = QCoreApplication::applicationDirPath() + "/../devicesearch-cli.exe";
    for (const QStringList& args : { QStringList { "--version" }, QStringList { "search", "--wait", "x" } }) {
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedChannels); // its console is this one
        program.start(cli, args);
        QVERIFY2(program.waitForStarted(30000), qPrintable(cli));
        UINT seen = page;
        while (!program.waitForFinished(1))
            seen = GetConsoleOutputCP() == CP_UTF8 ? CP_UTF8 : seen;
        QCOMPARE(GetConsoleOutputCP(), page);
        QVERIFY(GetConsoleMode(output, &now));
        QCOMPARE(now, mode);
        qInfo("%s: exit status %d, the code page %u while it ran", qPrintable(args.join(' ')),
            program.exitCode(), seen);
    }
#endif
}

void TestConsole::finalLinesThenOneWaitForTheDisk_data()
{
    QTest::addColumn<int>("sending");
    QTest::addColumn<int>("final");
    QTest::newRow("a closed console during the sending of 1000") << 200 << 1000;
    QTest::newRow("nothing sent yet") << 0 << 1000;
    QTest::newRow("every device settled already") << 3 << 0;
}

// Each "sending" line is on disk before the run goes on; the final lines go at one go, then
// one wait for the disk with every one of them in the file.
void TestConsole::finalLinesThenOneWaitForTheDisk()
{
    QFETCH(int, sending);
    QFETCH(int, final);
    QTemporaryDir dir;
    const QString path = dir.filePath("assign.jsonl");
    QList<int> linesAtSync;
    AssignLog log([&](int) {
        linesAtSync << linesIn(path);
        return true;
    });
    QString why;
    QVERIFY2(log.open(path, &why), qPrintable(why));
    for (int k = 1; k <= sending; ++k)
        QVERIFY2(log.write(row(k, AssignStatus::Planned), true, &why), qPrintable(why));
    QList<AssignRow> rows;
    for (int k = 1; k <= final; ++k)
        rows << row(k, k <= sending ? AssignStatus::NotConfirmed : AssignStatus::NotSent);
    QElapsedTimer clock;
    clock.start();
    QVERIFY2(log.writeFinal(rows, &why), qPrintable(why));
    const qint64 ms = clock.elapsed();
    QList<int> expected;
    for (int k = 1; k <= sending; ++k)
        expected << k;
    if (final > 0)
        expected << sending + final;
    QCOMPARE(linesAtSync, expected);
    QCOMPARE(linesIn(path), sending + final);
    qInfo("%d final lines written in %lld ms", final, ms);
}

// Whatever the folder lets others do: on Windows the user as owner and one entry, for the
// user, taken over from nowhere.
void TestConsole::aLogItMakesIsItsUsersAlone()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("shared/assign.jsonl");
    AssignLog log;
    QString why;
    QVERIFY2(log.open(path, &why), qPrintable(why));
#ifdef _WIN32
    // Wine gives every file a descriptor made from its Unix mode, whatever it was created with.
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        QSKIP("Wine keeps no security descriptor a file is created with");
    HANDLE token = nullptr;
    QVERIFY(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    QByteArray user(256, 0);
    DWORD size = 0;
    QVERIFY(GetTokenInformation(token, TokenUser, user.data(), DWORD(user.size()), &size));
    CloseHandle(token);
    const PSID me = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    PSID owner = nullptr;
    PACL entries = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    QCOMPARE(GetNamedSecurityInfoW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                 SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                 &entries, nullptr, &descriptor),
        DWORD(ERROR_SUCCESS));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    QVERIFY(GetSecurityDescriptorControl(descriptor, &control, &revision));
    void* first = nullptr;
    const bool onlyMine = entries && entries->AceCount == 1 && GetAce(entries, 0, &first)
        && static_cast<ACE_HEADER*>(first)->AceType == ACCESS_ALLOWED_ACE_TYPE
        && EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(first)->SidStart, me);
    const bool mineAsOwner = owner && EqualSid(owner, me);
    LocalFree(descriptor);
    QVERIFY(control & SE_DACL_PROTECTED);
    QVERIFY(onlyMine);
    QVERIFY(mineAsOwner);
#else
    struct stat made { };
    QCOMPARE(stat(QFile::encodeName(path).constData(), &made), 0);
    QCOMPARE(made.st_mode & 0777, mode_t(0600));
#endif
}

void TestConsole::consoleEventsReachTheLoop_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<int>("n");
#ifdef _WIN32
    QTest::newRow("Ctrl-C, inherited as ignored") << int(CTRL_C_EVENT) << int(kStopInterrupt);
    QTest::newRow("Ctrl-Break") << int(CTRL_BREAK_EVENT) << int(kStopTerminate);
    QTest::newRow("a closed console") << int(CTRL_CLOSE_EVENT) << int(kStopHangUp);
#else
    QTest::newRow("none on Linux") << 0 << 0;
#endif
}

// Each event reaches the event loop, and the command's end does not wait for a closed
// console's handler, which holds the console's lock for the rest of the process.
void TestConsole::consoleEventsReachTheLoop()
{
#ifndef _WIN32
    QSKIP("Windows' console events (signals are tst_stopsignals')");
#else
    QFETCH(int, event);
    QFETCH(int, n);
    auto stops = std::make_unique<StopSignals>();
    QSignalSpy spy(stops.get(), &StopSignals::stopRequested);
    QVERIFY(stops->install());
    QVERIFY(deliverAsWindowsDoes(DWORD(event)));
    QVERIFY(spy.wait(30000));
    QCOMPARE(spy.at(0).at(0).toInt(), n);
    QElapsedTimer clock;
    clock.start();
    stops.reset();
    QVERIFY2(clock.elapsed() < 10000, "the end of the command waited for the handler");
    // A new command's handler still hears the next event.
    StopSignals again;
    QSignalSpy heard(&again, &StopSignals::stopRequested);
    QVERIFY(again.install());
    if (event != CTRL_CLOSE_EVENT) {
        QVERIFY(deliverAsWindowsDoes(DWORD(event)));
        QVERIFY(heard.wait(30000));
    }
#endif
}

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
