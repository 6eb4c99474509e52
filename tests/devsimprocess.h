// Runs the device simulator for a test: starts it (on the LAN host of `isolated --lan`
// when asked), waits for its ready line, collects the JSON line it prints for every
// datagram it receives, and stops it with SIGTERM.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <functional>
#include <net/if.h>

// True when the only interfaces are loopback and the veth pairs of tests/netns/isolated,
// i.e. nothing sent here can reach a real network.
inline bool InsidePrivateNetwork(QString* why)
{
    struct if_nameindex* names = if_nameindex();
    if (!names) {
        *why = QStringLiteral("cannot list the network interfaces");
        return false;
    }
    QStringList foreign;
    for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
        const QString name = QString::fromLocal8Bit(n->if_name);
        if (name != QLatin1String("lo") && !QRegularExpression("^veth[0-3]$").match(name).hasMatch())
            foreign << name;
    }
    if_freenameindex(names);
    if (!foreign.isEmpty()) {
        *why = QStringLiteral("not inside a private network namespace (interfaces %1); run through "
                              "tests/netns/isolated")
                   .arg(foreign.join(QLatin1String(", ")));
        return false;
    }
    return true;
}

class DevsimProcess {
public:
    enum Host { ThisHost, LanHost, SecondLanHost };
    using Lines = QList<QJsonObject>;

    explicit DevsimProcess(Host host = ThisHost)
        : m_host(host)
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] { readLines(); });
        // Drained as it comes, so a chatty --verbose never blocks on a full pipe.
        QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
            [this] { m_stderr += m_process.readAllStandardError(); });
    }
    ~DevsimProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    // Starts devsim and waits for {"ready":true}. On failure error() says why.
    bool start(const QStringList& args = {}, int timeoutMs = 10000)
    {
        if (!InsidePrivateNetwork(&m_error))
            return false;
        QString program = QStringLiteral(DEVSIM_PATH);
        QStringList arguments = args;
        if (m_host != ThisHost) {
            const char* const variable = m_host == LanHost ? "LAN_NETNS" : "LAN2_NETNS";
            const QByteArray netns = qgetenv(variable);
            if (netns.isEmpty()) {
                m_error = QStringLiteral("%1 is not set; run through tests/netns/isolated --lan or --two-lans")
                              .arg(variable);
                return false;
            }
            arguments.prepend(program);
            arguments.prepend(QStringLiteral("--net=") + QString::fromLocal8Bit(netns));
            program = QStringLiteral("nsenter");
        }
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(timeoutMs)) {
            m_error = m_process.errorString();
            return false;
        }
        (void)QTest::qWaitFor(
            [this] { return m_ready || m_process.state() == QProcess::NotRunning; }, timeoutMs);
        if (!m_ready)
            m_error = QStringLiteral("devsim did not get ready: ") + QString::fromLocal8Bit(stderrText());
        return m_ready;
    }

    // Every line printed after the ready line, one per received datagram.
    const Lines& received() const { return m_lines; }

    bool waitFor(const std::function<bool(const Lines&)>& done, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return done(m_lines); }, timeoutMs);
    }

    // Waits until count lines satisfy match.
    bool waitForCount(const std::function<bool(const QJsonObject&)>& match, int count, int timeoutMs = 10000)
    {
        return waitFor(
            [&](const Lines& lines) { return std::count_if(lines.begin(), lines.end(), match) >= count; },
            timeoutMs);
    }

    // SIGTERM, then waits. Returns the exit status, or -1 after a crash or a hang.
    int stop(int timeoutMs = 10000)
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(timeoutMs)) {
                m_process.kill();
                m_process.waitForFinished(timeoutMs);
                return -1;
            }
        }
        readLines();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QByteArray stderrText() { return m_stderr += m_process.readAllStandardError(); }
    QProcess& process() { return m_process; }
    QString error() const { return m_error; }

private:
    void readLines()
    {
        while (m_process.canReadLine()) {
            const QJsonObject line = QJsonDocument::fromJson(m_process.readLine()).object();
            if (!m_ready && line.value(QLatin1String("ready")).toBool())
                m_ready = true;
            else
                m_lines.append(line);
        }
    }

    Host m_host;
    QProcess m_process;
    Lines m_lines;
    bool m_ready = false;
    QString m_error;
    QByteArray m_stderr;
};
