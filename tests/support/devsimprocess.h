// Runs the device simulator for a test: starts it (on the LAN host of `isolated --lan`
// when asked), waits for its ready line, collects the JSON line it prints for every
// datagram it receives, and stops it with SIGTERM. Under Wine, where a Windows program
// cannot start it with pipes, tests/wine/devsim-bridge starts it on the test's behalf.
#pragma once

#include "privatenetwork.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <functional>
#ifdef _WIN32
#include <QFile>
#endif

// What both ways of running devsim share: its lines, and waiting for them.
class DevsimLines {
public:
    enum Host { ThisHost, LanHost, SecondLanHost };
    using Lines = QList<QJsonObject>;

    virtual ~DevsimLines() = default;

    // Every line printed after the ready line, one per received datagram.
    const Lines& received()
    {
        readLines();
        return m_lines;
    }

    bool waitFor(const std::function<bool(const Lines&)>& done, int timeoutMs = 10000)
    {
        return QTest::qWaitFor(
            [&] {
                readLines();
                return done(m_lines);
            },
            timeoutMs);
    }

    // Waits until count lines satisfy match.
    bool waitForCount(const std::function<bool(const QJsonObject&)>& match, int count, int timeoutMs = 10000)
    {
        return waitFor(
            [&](const Lines& lines) { return std::count_if(lines.begin(), lines.end(), match) >= count; },
            timeoutMs);
    }

    QString error() const { return m_error; }

protected:
    // Takes in what devsim printed since the last call.
    virtual void readLines() = 0;
    void takeLine(const QByteArray& text)
    {
        const QJsonObject line = QJsonDocument::fromJson(text).object();
        if (!m_ready && line.value(QLatin1String("ready")).toBool())
            m_ready = true;
        else
            m_lines.append(line);
    }

    Lines m_lines;
    bool m_ready = false;
    QString m_error;
};

#ifdef _WIN32
class DevsimProcess : public DevsimLines {
public:
    explicit DevsimProcess(Host host = ThisHost)
        : m_host(host)
    {
    }
    ~DevsimProcess() override
    {
        if (m_started && !m_stopped)
            request(QStringLiteral(".kill"));
    }
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    bool start(const QStringList& args = {}, int timeoutMs = 10000)
    {
        if (!InsidePrivateNetwork(&m_error))
            return false;
        const QString dir = qEnvironmentVariable("DEVSIM_BRIDGE");
        if (dir.isEmpty()) {
            m_error = QStringLiteral("DEVSIM_BRIDGE is not set; run through tests/wine/suite");
            return false;
        }
        static int started = 0;
        m_base = QStringLiteral("%1/%2-%3").arg(dir).arg(QCoreApplication::applicationPid()).arg(++started);
        QFile request(m_base + ".tmp");
        if (!request.open(QIODevice::WriteOnly)) {
            m_error = QStringLiteral("cannot write to %1").arg(dir);
            return false;
        }
        const char* const hosts[] = { "this", "lan", "lan2" };
        request.write(QByteArray(hosts[m_host]) + '\n' + args.join('\n').toUtf8() + '\n');
        request.close();
        if (!QFile::rename(m_base + ".tmp", m_base + ".start")) {
            m_error = QStringLiteral("cannot hand the request to the bridge");
            return false;
        }
        m_started = true;
        (void)QTest::qWaitFor(
            [this] {
                readLines();
                return m_ready || QFile::exists(m_base + ".status");
            },
            timeoutMs);
        if (!m_ready)
            m_error = QStringLiteral("devsim did not get ready: ") + QString::fromLocal8Bit(stderrText());
        return m_ready;
    }

    int stop(int timeoutMs = 10000)
    {
        if (!m_started || m_stopped)
            return m_status;
        m_stopped = true;
        request(QStringLiteral(".stop"));
        QFile status(m_base + ".status");
        if (!QTest::qWaitFor([&] { return status.exists(); }, timeoutMs)) {
            request(QStringLiteral(".kill"));
            return -1;
        }
        readLines();
        status.open(QIODevice::ReadOnly);
        bool ok = false;
        const int code = status.readAll().trimmed().toInt(&ok);
        // 128 + n: ended by signal n, which QProcess reports as a crash.
        m_status = ok && code < 128 ? code : -1;
        return m_status;
    }

    QByteArray stderrText()
    {
        QFile err(m_base + ".err");
        return err.open(QIODevice::ReadOnly) ? err.readAll() : QByteArray();
    }

private:
    void request(const QString& suffix) { QFile(m_base + suffix).open(QIODevice::WriteOnly); }

    // The complete lines added to devsim's output since the last look.
    void readLines() override
    {
        QFile out(m_base + ".out");
        if (!out.open(QIODevice::ReadOnly) || !out.seek(m_read))
            return;
        const QByteArray fresh = out.readAll();
        const int end = fresh.lastIndexOf('\n') + 1;
        m_read += end;
        for (const QByteArray& text : fresh.left(end).split('\n')) {
            if (!text.isEmpty())
                takeLine(text);
        }
    }

    Host m_host;
    QString m_base;
    qint64 m_read = 0;
    bool m_started = false;
    bool m_stopped = false;
    int m_status = -1;
};
#else
class DevsimProcess : public DevsimLines {
public:
    explicit DevsimProcess(Host host = ThisHost)
        : m_host(host)
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] { readLines(); });
        // Drained as it comes, so a chatty --verbose never blocks on a full pipe.
        QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
            [this] { m_stderr += m_process.readAllStandardError(); });
    }
    ~DevsimProcess() override
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
                m_error
                    = QStringLiteral("%1 is not set; run through tests/netns/isolated --lan or --two-lans")
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

private:
    void readLines() override
    {
        while (m_process.canReadLine())
            takeLine(m_process.readLine());
    }

    Host m_host;
    QProcess m_process;
    QByteArray m_stderr;
};
#endif

// The addresses at both ends of the two LANs: `isolated --two-lans`, or with ONE_ADDRESS
// `--two-lans-one-address`, whose two ends here hold the first LAN's.
struct TwoLanAddresses {
    QString secondHere = QStringLiteral("10.78.0.1");
    QString secondThere = QStringLiteral("10.78.0.2");
    TwoLanAddresses()
    {
        if (!qEnvironmentVariableIsEmpty("ONE_ADDRESS")) {
            secondHere = QStringLiteral("10.77.0.1");
            secondThere = QStringLiteral("10.77.0.3");
        }
    }
};

// Devices on both LANs of `isolated --two-lans`: serial numbers A0001... on the first
// (10.77.0.101...), B0001... on the second (10.78.0.101...). False with the reason in error.
inline bool StartOnBothLans(
    DevsimProcess& first, int firstCount, DevsimProcess& second, int secondCount, QString* error)
{
    const bool ok = first.start({ "--count", QString::number(firstCount), "--sn-prefix", "A", "--base-ip",
                        "10.77.0.100" })
        && second.start(
            { "--count", QString::number(secondCount), "--sn-prefix", "B", "--base-ip", "10.78.0.100" });
    if (!ok)
        *error = first.error() + second.error();
    return ok;
}
