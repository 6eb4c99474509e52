#include "ingestcommon.h"

#include "benchprobes.h"
#include "deviceframe.h"
#include "devsimprocess.h"
#include "udptestsocket.h"

#include <QtCore>

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kQuietMs = 300;
}

void progress(const QString& text)
{
    fprintf(stderr, "ingest_bench: %s\n", qPrintable(text));
}

QString thousands(long long n)
{
    return QLocale(QLocale::English).toString(n);
}

QString yesNo(bool met)
{
    return met ? QStringLiteral("yes") : QStringLiteral("**no**");
}

QString msText(double ms)
{
    return ms < 0 ? QStringLiteral("failed") : QStringLiteral("%1 ms").arg(ms, 0, 'f', ms < 10 ? 1 : 0);
}

Ingest medianRun(std::vector<Ingest> runs)
{
    for (const Ingest& run : runs) {
        if (!run.error.isEmpty())
            return run;
    }
    std::sort(runs.begin(), runs.end(), [](const Ingest& a, const Ingest& b) { return a.rows < b.rows; });
    Ingest median = runs[runs.size() / 2];
    median.runs = static_cast<int>(runs.size());
    median.fewestRows = runs.front().rows;
    median.mostRows = runs.back().rows;
    return median;
}

Ingest medianIngest(const Traffic& traffic, const std::function<Ingest()>& run)
{
    std::vector<Ingest> runs;
    for (int i = 0; i < (traffic.burst ? kBurstRuns : 1); ++i)
        runs.push_back(run());
    return medianRun(runs);
}

bool runEventsUntil(const std::function<bool()>& done, int timeoutMs, int pollMs)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer elapsed;
    elapsed.start();
    bool result = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if ((result = done()) || elapsed.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(pollMs);
    loop.exec();
    return result;
}

bool startDevsim(DevsimProcess& devsim, const Traffic& traffic, Ingest* result)
{
    const QStringList args = traffic.burst ? QStringList { "--burst", QString::number(traffic.burst) }
                                           : QStringList { "--paced", QString::number(traffic.rate),
                                                 "--paced-for", QString::number(kPacedSeconds) };
    if (devsim.start(args, 60000))
        return true;
    result->error = devsim.error();
    return false;
}

Ingest runTraffic(const Traffic& traffic, const std::function<int()>& rows, long long* firstSendNs)
{
    Ingest result;
    DevsimProcess devsim;
    if (!startDevsim(devsim, traffic, &result))
        return result;
    unsigned char request[kFrameBufferSize];
    const int length = BuildDeviceFrame(request, kDiscoveryCommand, ProgramSenderId, nullptr);
    UdpTestSocket trigger;
    trigger.sendToGroup(kCommandPort, QByteArray(reinterpret_cast<const char*>(request), length));

    QJsonObject sentLine;
    const bool sent = runEventsUntil(
        [&] {
            for (const QJsonObject& line : devsim.received()) {
                if (line.contains("sent")) {
                    sentLine = line;
                    return true;
                }
            }
            return false;
        },
        (kPacedSeconds + 60) * 1000);
    if (!sent) {
        result.error = QStringLiteral("devsim did not report its sends");
        return result;
    }
    int seen = rows();
    QElapsedTimer still;
    still.start();
    runEventsUntil(
        [&] {
            if (rows() != seen) {
                seen = rows();
                still.restart();
            }
            return still.elapsed() >= kQuietMs;
        },
        600000);
    devsim.stop();
    result.sent = static_cast<long long>(sentLine.value("sent").toDouble());
    *firstSendNs = static_cast<long long>(sentLine.value("first").toDouble());
    result.sendMs = (sentLine.value("last").toDouble() - sentLine.value("first").toDouble()) / 1e6;
    return result;
}
