#include "ingestcommon.h"

#include "devsimprocess.h"

#include <QtCore>

#include <csignal>
#include <unistd.h>

namespace {
constexpr int kDevices = 5000;
constexpr int kEvery = 15;
constexpr int kRunSeconds = 60;

struct ProcessFigures {
    double cpuSeconds = -1; // user and system time
    long long rssKiB = -1;
};

ProcessFigures figuresOf(qint64 pid)
{
    ProcessFigures f;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        // The fields after the command's name, which is in parentheses and may hold blanks.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            f.cpuSeconds = double(fields[11].toLongLong() + fields[12].toLongLong()) / sysconf(_SC_CLK_TCK);
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                f.rssKiB = line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return f;
}

QString mibText(long long kib)
{
    return QStringLiteral("%1 MiB").arg(kib / 1024.0, 0, 'f', 2);
}

// Waits, delivering events, until watch has run for ms.
bool runUntil(const QElapsedTimer& clock, qint64 ms, const QProcess& watch)
{
    runEventsUntil(
        [&] { return clock.elapsed() >= ms || watch.state() == QProcess::NotRunning; }, int(ms) + 5000);
    return watch.state() == QProcess::Running;
}
}

// devicesearch-cli watch on 5,000 devices answering every round, for a minute: the CPU time
// of a round once every device is known, and resident memory. The figures are taken
// half-way between rounds: after the first, which stores every device; after the second,
// the first to replace what the devices said, from which on memory must stay flat; and
// after the fourth, so that two whole rounds lie between the last two.
std::vector<Row> watchRows(bool* complete)
{
    Row cpu;
    cpu.measure = QStringLiteral("devicesearch-cli watch, %1 devices, --every %2, %3 s: CPU time per round")
                      .arg(thousands(kDevices))
                      .arg(kEvery)
                      .arg(kRunSeconds);
    cpu.bare = cpu.ratio = QStringLiteral("–");
    cpu.target = QStringLiteral("well under 5 % of one core");
    Row memory = cpu;
    memory.measure
        = QStringLiteral("devicesearch-cli watch, %1 devices: resident memory at the start and the end")
              .arg(thousands(kDevices));
    memory.target = QStringLiteral("flat within 1 MiB");
    cpu.met = memory.met = QStringLiteral("–");
    DevsimProcess devsim;
    if (!devsim.start({ "--burst", QString::number(kDevices), "--base-ip", "10.50.0.0" })) {
        cpu.program = memory.program = devsim.error();
        *complete = false;
        return { cpu, memory };
    }
    QProcess watch;
    watch.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    watch.start(QStringLiteral(CLI_PATH),
        { "watch", "--every", QString::number(kEvery), "--interface", "lo", "--format", "jsonl" });
    clock.start();
    const qint64 half = kEvery * 1000 / 2;
    ProcessFigures first;
    ProcessFigures start;
    ProcessFigures end;
    const qint64 pid = watch.waitForStarted(10000) ? watch.processId() : 0;
    const bool ran = pid && runUntil(clock, half, watch)
        && (first = figuresOf(pid), runUntil(clock, kEvery * 1000 + half, watch))
        && (start = figuresOf(pid), runUntil(clock, 3 * kEvery * 1000 + half, watch))
        && (end = figuresOf(pid), runUntil(clock, kRunSeconds * 1000, watch));
    ::kill(pid_t(watch.processId()), SIGTERM);
    runEventsUntil([&] { return watch.state() == QProcess::NotRunning; }, 10000);
    const QString summary = QString::fromUtf8(watch.readAllStandardError()).trimmed();
    const QRegularExpressionMatch m = QRegularExpression(": (\\d+) devices").match(summary);
    if (!ran || watch.exitCode() != 0 || !m.hasMatch() || start.cpuSeconds < 0 || end.rssKiB < 0) {
        cpu.program = memory.program = QStringLiteral("watch did not run through: ") + summary.left(200);
        *complete = false;
        return { cpu, memory };
    }
    const double perRound = (end.cpuSeconds - start.cpuSeconds) / 2;
    const double share = 100 * perRound / kEvery;
    cpu.program = QStringLiteral("%1 ms per round (%2 % of one core); %3 ms up to the middle of the first; "
                                 "%4 devices tracked")
                      .arg(perRound * 1000, 0, 'f', 0)
                      .arg(share, 0, 'f', 2)
                      .arg(first.cpuSeconds * 1000, 0, 'f', 0)
                      .arg(thousands(m.captured(1).toLongLong()));
    cpu.met = yesNo(share < 5);
    const long long grown = end.rssKiB - start.rssKiB;
    memory.program
        = QStringLiteral("%1 after the first round, %2 after the second, %3 after the fourth "
                         "(%4%5 KiB from the second)")
              .arg(mibText(first.rssKiB), mibText(start.rssKiB), mibText(end.rssKiB), grown >= 0 ? "+" : "")
              .arg(grown);
    memory.met = yesNo(std::llabs(grown) <= 1024);
    devsim.stop();
    return { cpu, memory };
}
