#include "programinprocess.h"

#include "benchprobes.h"
#include "protocol.h"
#include "udptestsocket.h"

#include <QtWidgets>

#include <unistd.h>

ProgramInProcess::ProgramInProcess()
{
    QObject::connect(
        fixture.table->model(), &QAbstractItemModel::rowsInserted, [this] { lastRowNs = MonotonicNs(); });
    if (!fixture.exposed())
        progress(QStringLiteral("the window was not exposed; its painting may not count"));
}

std::vector<Row> ProgramInProcess::bufferRows() const
{
    const int plain = socket(AF_INET, SOCK_DGRAM, 0);
    const int byDefault = net::receiveBufferSize(plain);
    close(plain);
    const long long cap = UdpReceiveBufferCap();
    const long long granted = GrantedReceiveBuffer();
    std::vector<Row> rows;
    for (const auto& [port, name] :
        { std::pair<unsigned short, const char*> { kReplyPort, "command channel" },
            { kAnnouncePort, "listener" } }) {
        const std::vector<int> fds = OwnUdpSocketsOnPort(port);
        const int got = fds.size() == 1 ? net::receiveBufferSize(fds.front()) : -1;
        rows.push_back({ QStringLiteral("receive buffer of the %1 socket (port %2) as getsockopt reports it; "
                                        "asked %3, net.core.rmem_max %4")
                             .arg(name)
                             .arg(port)
                             .arg(thousands(net::kReceiveBufferBytes))
                             .arg(thousands(cap)),
            got < 0 ? QStringLiteral("socket not found") : QStringLiteral("%1 bytes").arg(thousands(got)),
            QStringLiteral("%1 bytes (default)").arg(thousands(byDefault)), "–",
            QStringLiteral("≥ %1 bytes").arg(thousands(granted)), yesNo(got >= granted) });
    }
    return rows;
}

void ProgramInProcess::clear()
{
    fixture.search();
    runEventsUntil([] { return false; }, 100);
}

Ingest ProgramInProcess::ingest(const Traffic& traffic)
{
    return medianIngest(traffic, [&] { return run(traffic); });
}

Ingest ProgramInProcess::run(const Traffic& traffic)
{
    clear();
    const long long drops = OwnUdpDropsOnPort(kReplyPort);
    if (drops < 0)
        return { QStringLiteral("the program's socket on %1 is not listed").arg(kReplyPort) };
    lastRowNs = 0;
    long long firstNs = 0;
    Ingest result = runTraffic(
        traffic, [this] { return fixture.table->rowCount(); }, &firstNs);
    result.rows = fixture.table->rowCount();
    result.drops = OwnUdpDropsOnPort(kReplyPort) - drops;
    if (lastRowNs > 0)
        result.firstToLastMs = (lastRowNs - firstNs) / 1e6;
    return result;
}
