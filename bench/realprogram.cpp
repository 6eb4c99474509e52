#include "ingestcommon.h"

#include "benchprobes.h"
#include "devsimprocess.h"
#include "xwindow.h"

#include <QtTest>

#include <algorithm>
#include <map>

namespace {

const std::string kTitle = "设备搜索V2.1";
constexpr int kWakeSeconds = 30;

// The real program under Xvfb.
class RealProgram {
public:
    explicit RealProgram(const QString& display)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_display = display.toStdString();
    }
    ~RealProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Milliseconds from the start of the process to its window on the display; -1 on failure.
    double start()
    {
        QElapsedTimer timer;
        timer.start();
        m_process.start(APP_PATH, QStringList());
        if (!m_process.waitForStarted(10000))
            return -1;
        while (!xWindowShown(m_display, kTitle)) {
            if (timer.elapsed() > 20000 || m_process.state() == QProcess::NotRunning)
                return -1;
            QThread::usleep(1000);
        }
        return timer.nsecsElapsed() / 1e6;
    }

    // Milliseconds from the close request to the end of the process; -1 when it did not end.
    double close()
    {
        QElapsedTimer timer;
        timer.start();
        if (!xCloseWindow(m_display, kTitle))
            return -1;
        if (!m_process.waitForFinished(5000))
            return -1;
        const double ms = timer.nsecsElapsed() / 1e6;
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0 ? ms : -1;
    }

    pid_t pid() const { return static_cast<pid_t>(m_process.processId()); }

private:
    QProcess m_process;
    std::string m_display;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

QString timesText(const std::vector<double>& values)
{
    if (values.empty() || std::any_of(values.begin(), values.end(), [](double v) { return v < 0; }))
        return QStringLiteral("failed");
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return QStringLiteral("%1 (%2–%3)")
        .arg(msText(median(values)))
        .arg(*low, 0, 'f', 0)
        .arg(*high, 0, 'f', 0);
}

bool allBelow(const std::vector<double>& values, double limit)
{
    return !values.empty()
        && std::all_of(values.begin(), values.end(), [limit](double v) { return v >= 0 && v < limit; });
}

} // namespace

// The real program under Xvfb: start-up, exit idle and flooded, and idle wake-ups.
std::vector<Row> realProgramRows(const QString& display, bool* complete)
{
    std::vector<double> startups, idleExits, floodExits;
    for (int i = 0; i < 3; ++i) {
        progress(QStringLiteral("start-up and idle exit, run %1 of 3").arg(i + 1));
        RealProgram program(display);
        startups.push_back(program.start());
        QTest::qWait(500);
        idleExits.push_back(program.close());
    }
    for (int i = 0; i < 3; ++i) {
        progress(QStringLiteral("exit under a flood, run %1 of 3").arg(i + 1));
        DevsimProcess devsim;
        RealProgram program(display);
        if (!devsim.start({ "--count", "12", "--flood", "2000" }) || program.start() < 0) {
            floodExits.push_back(-1);
            continue;
        }
        QTest::qWait(1000);
        floodExits.push_back(program.close());
        devsim.stop();
    }
    std::map<int, ThreadSwitches> before, after;
    pid_t pid = 0;
    {
        progress(QStringLiteral("idle wake-ups over %1 s").arg(kWakeSeconds));
        RealProgram program(display);
        if (program.start() >= 0) {
            QTest::qWait(2000);
            pid = program.pid();
            before = ThreadContextSwitches(pid);
            QTest::qWait(kWakeSeconds * 1000);
            after = ThreadContextSwitches(pid);
            idleExits.push_back(program.close());
        }
    }

    std::vector<Row> rows;
    rows.push_back({ QStringLiteral("start-up: process start → window shown, median (min–max) of 3"),
        timesText(startups), "–", "–", "–", "–" });
    rows.push_back({ QStringLiteral("exit, idle: window closed → process gone, median (min–max) of %1")
                         .arg(idleExits.size()),
        timesText(idleExits), "–", "–", QStringLiteral("< 500 ms"), yesNo(allBelow(idleExits, 500)) });
    rows.push_back(
        { QStringLiteral("exit under 2,000 replies/s + 2,000 announcements/s, median (min–max) of 3"),
            timesText(floodExits), "–", "–", QStringLiteral("< 500 ms"), yesNo(allBelow(floodExits, 500)) });
    *complete = *complete && !after.empty() && allBelow(startups, 1e9) && allBelow(idleExits, 1e9)
        && allBelow(floodExits, 1e9);
    for (const auto& [tid, now] : after) {
        const auto then = before.find(tid);
        const long long wakes = now.voluntary + now.involuntary
            - (then == before.end() ? 0 : then->second.voluntary + then->second.involuntary);
        QString name = QString::fromStdString(now.name);
        // Threads are named after the process unless they name themselves, as QThreads do.
        if (tid == pid)
            name += QStringLiteral(", the GUI thread");
        else if (after.count(pid) && now.name == after.at(pid).name)
            name += QStringLiteral(", the command channel's receive thread");
        rows.push_back(
            { QStringLiteral("idle wake-ups over %1 s: thread %2 (%3)").arg(kWakeSeconds).arg(tid).arg(name),
                thousands(wakes), "–", "–", QStringLiteral("≤ %1").arg(kWakeSeconds / 5),
                yesNo(wakes <= kWakeSeconds / 5) });
    }
    return rows;
}
