// Requests to stop from outside: SIGINT, SIGTERM and SIGHUP on Linux; Ctrl-C, Ctrl-Break
// and a closed console window on Windows. They arrive as a Qt signal in the event loop of
// the thread that installed them, so a command ends its work the ordinary way.
//
//   StopSignals stops;
//   QObject::connect(&stops, &StopSignals::stopRequested, [&](int n) { ...; finish(); });
//   stops.install();
//
// A command that needs time to finish calls StopSignals::setFinishing() once it starts:
// a further request then ends the process at once with 128 + its number, from the handler,
// the console put back first (RestoreConsole).
#pragma once

#include <QObject>

class QSocketNotifier;

// The numbers stopRequested() carries, on every system (128 + the number is the exit status).
enum StopSignal { kStopHangUp = 1, kStopInterrupt = 2, kStopTerminate = 15 };

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    // Gives the three back to the system's default handling on Linux. On Windows the
    // handler stays, and a later request ends the process at once.
    ~StopSignals() override;

    // Starts catching the three; false, with the reason, when the system refuses. One
    // instance at a time.
    bool install(QString* why = nullptr);

    // From now on a further request ends the process at once, exit status 128 + n.
    static void setFinishing();

    // Emits stopRequested() now for requests that came and wait for the event loop, for
    // work that runs long without returning to it.
    void deliverPending();

signals:
    // n is one of StopSignal: Windows' Ctrl-C is 2, Ctrl-Break 15, a closed console 1.
    void stopRequested(int n);

private:
    // Queued from the Windows handler's thread, called directly from the pipe's reader.
    Q_INVOKABLE void deliver(int n);
    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};
