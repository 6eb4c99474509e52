// Runs devicesearch-cli for a test and keeps its status and both outputs.
#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <csignal>
#include <sys/types.h>

// The program under test; DEVICESEARCH_CLI runs the same checks on another build of it
// (the Windows one under Wine, through a wrapper).
inline QString CliPath()
{
    return qEnvironmentVariable("DEVICESEARCH_CLI", QStringLiteral(CLI_PATH));
}

// The interface a search takes by default here: loopback alone, or the LAN's veth where
// the test runs with one (as under Wine, which reads a loopback sender as 0.0.0.0).
inline QString DefaultInterface()
{
    return qEnvironmentVariableIsSet("LAN_NETNS") ? QStringLiteral("veth0") : QStringLiteral("lo");
}

struct CliRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

class Cli {
public:
    explicit Cli(const QStringList& args) { m_process.start(CliPath(), args); }
    // Sends signal n to the program; false when it is not running.
    bool signal(int n) { return m_process.processId() > 0 && ::kill(pid_t(m_process.processId()), n) == 0; }
    // Waits for the end; a hang shows as status -1.
    CliRun finish(int timeoutMs = 30000)
    {
        CliRun run;
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        } else if (m_process.error() != QProcess::FailedToStart
            && m_process.exitStatus() == QProcess::NormalExit) {
            run.status = m_process.exitCode();
        }
        run.out = m_process.readAllStandardOutput();
        run.err = m_process.readAllStandardError();
        return run;
    }

    // The same, while this thread's events are delivered, so that devices played by the
    // test itself can answer.
    CliRun finishServing(int timeoutMs = 30000)
    {
        QElapsedTimer clock;
        clock.start();
        while (m_process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs)
            QTest::qWait(20);
        return finish(5000);
    }

private:
    QProcess m_process;
};

// A small file system on dir, in the test's own mount namespace: a full disk on demand.
inline bool MountSmallFileSystem(const QString& dir, const QString& options, QByteArray* why)
{
    QProcess mount;
    mount.start("mount", { "-t", "tmpfs", "-o", options, "none", dir });
    const bool mounted = mount.waitForFinished() && mount.exitCode() == 0;
    *why = mount.readAllStandardError();
    return mounted;
}

inline CliRun runCli(const QStringList& args)
{
    return Cli(args).finish();
}

// Signals reach the Linux build only: under Wine the program is started through a wrapper.
// Wine hands a Windows program SIGINT as Ctrl-C, which its console handler takes; it ends
// the program on SIGTERM and SIGHUP itself.
inline bool SignalReachesTheProgram(int n)
{
    return qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI") || n == SIGINT;
}

inline QJsonArray jsonOf(const CliRun& run)
{
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(run.out, &error);
    return error.error == QJsonParseError::NoError ? doc.array() : QJsonArray();
}
