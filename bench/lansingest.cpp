// The window on two LANs at once (inside tests/netns/isolated --two-lans): bursts that
// arrive on both adapters together, and a search on twenty adapters.
#include "benchprobes.h"
#include "devsimprocess.h"
#include "groupsocket.h"
#include "programinprocess.h"
#include "protocol.h"
#include "service.h"

#include <QtWidgets>

#include <algorithm>

namespace {
constexpr int kAdapters = 20;

bool ip(const QStringList& args)
{
    QProcess p;
    p.start("ip", args);
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

// Half of the burst from each LAN, both answering the one search.
Ingest burstOnBothLans(ProgramInProcess& program, int burst)
{
    program.clear();
    Ingest result;
    const long long drops = OwnUdpDropsOnPort(kReplyPort);
    DevsimProcess first(DevsimProcess::LanHost), second(DevsimProcess::SecondLanHost);
    const QString half = QString::number(burst / 2);
    if (!first.start({ "--burst", half, "--sn-prefix", "A", "--base-ip", "10.50.0.0" }, 60000)
        || !second.start({ "--burst", half, "--sn-prefix", "B", "--base-ip", "10.60.0.0" }, 60000)) {
        result.error = first.error() + second.error();
        return result;
    }
    program.lastRowNs = 0;
    program.fixture.search();
    const long long searchNs = MonotonicNs();
    const auto sent = [](DevsimProcess& d) {
        for (const QJsonObject& line : d.received()) {
            if (line.contains("sent"))
                return static_cast<long long>(line.value("sent").toDouble());
        }
        return -1LL;
    };
    if (!runEventsUntil([&] { return sent(first) >= 0 && sent(second) >= 0; }, 60000)) {
        result.error = QStringLiteral("devsim did not report its sends");
        return result;
    }
    int seen = program.fixture.table->rowCount();
    QElapsedTimer still;
    still.start();
    runEventsUntil(
        [&] {
            if (program.fixture.table->rowCount() != seen) {
                seen = program.fixture.table->rowCount();
                still.restart();
            }
            return still.elapsed() > 300;
        },
        30000);
    result.sent = sent(first) + sent(second);
    // Replies only: each devsim also answers the search's announcement query.
    for (int row = 0; row < program.fixture.table->rowCount(); ++row)
        result.rows += program.fixture.cell(row, 2).isEmpty() ? 0 : 1;
    result.drops = OwnUdpDropsOnPort(kReplyPort) - drops;
    if (program.lastRowNs > 0)
        result.firstToLastMs = (program.lastRowNs - searchNs) / 1e6;
    return result;
}

// Twenty adapters: the two veths and dummies beside them. Returns the median time of a
// search (the press: adapters read again, memberships, forty datagrams) and what it sent.
Row twentyAdapters(ProgramInProcess& program, bool* complete)
{
    Row row { QStringLiteral("a search on %1 adapters (the two LANs and %2 veth ends): time of the "
                             "press, median (min–max) of 5; datagrams sent, memberships held")
                  .arg(kAdapters)
                  .arg(kAdapters - 2),
        {}, "–", "–", QStringLiteral("40 datagrams, no visible pause (< 100 ms)"), {} };
    // Veth pairs with both ends here: the kernel of a user namespace may have no dummy driver.
    bool made = true;
    for (int i = 0; i < (kAdapters - 2) / 2 && made; ++i) {
        const QString a = QStringLiteral("va%1").arg(i), b = QStringLiteral("vb%1").arg(i);
        made = ip({ "link", "add", a, "type", "veth", "peer", "name", b });
        for (const QString& end : { a, b }) {
            made = made
                && ip({ "addr", "add", QStringLiteral("10.9%1.%2.1/24").arg(end == a ? 0 : 1).arg(i), "dev",
                    end })
                && ip({ "link", "set", end, "multicast", "on", "up" });
        }
    }
    // A veth is running once both ends are up.
    runEventsUntil([] { return false; }, 500);
    std::vector<double> ms;
    for (int i = 0; i < 5 && made; ++i) {
        const long long t0 = MonotonicNs();
        program.fixture.search();
        ms.push_back((MonotonicNs() - t0) / 1e6);
    }
    const int held = static_cast<int>(ServiceHeldAdapters().size());
    int sent = -1;
    if (made) {
        const net::Socket probe = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in to = GroupDestination(kProbePort);
        std::vector<GroupAdapter> adapters = ServiceHeldAdapters();
        sent = ServiceSearch(probe, to, adapters);
        net::closeSocket(probe);
    }
    for (int i = 0; i < (kAdapters - 2) / 2; ++i)
        ip({ "link", "del", QStringLiteral("va%1").arg(i) });
    if (!made || ms.empty()) {
        row.program = QStringLiteral("could not make the veth pairs");
        row.met = QStringLiteral("–");
        *complete = false;
        return row;
    }
    std::sort(ms.begin(), ms.end());
    row.program = QStringLiteral("%1 (%2–%3); %4 datagrams, %5 memberships")
                      .arg(msText(ms[ms.size() / 2]))
                      .arg(msText(ms.front()))
                      .arg(msText(ms.back()))
                      .arg(sent)
                      .arg(held);
    row.met = yesNo(sent == 2 * kAdapters && held == kAdapters && ms[ms.size() / 2] < 100);
    return row;
}
}

std::vector<Row> twoLanRows(ProgramInProcess& program, bool* complete)
{
    std::vector<Row> rows;
    for (int burst : { 1000, 5000 }) {
        progress(QStringLiteral("program, burst of %1 on two LANs").arg(thousands(burst)));
        std::vector<Ingest> runs;
        for (int i = 0; i < kBurstRuns; ++i)
            runs.push_back(burstOnBothLans(program, burst));
        const Ingest r = medianRun(runs);
        Row row;
        row.measure = QStringLiteral("burst of %1 on two LANs at once (half on each): rows, drops, search → "
                                     "last row; median (fewest–most rows) of %2 runs")
                          .arg(thousands(burst))
                          .arg(kBurstRuns);
        row.bare = QStringLiteral("%1 replies sent").arg(thousands(r.sent));
        row.target = QStringLiteral("≥ 98 % of the replies sent");
        if (!r.error.isEmpty()) {
            row.program = r.error;
            row.ratio = row.met = QStringLiteral("–");
            *complete = false;
        } else {
            row.program = QStringLiteral("%1 reply rows%2, %3 drops, %4")
                              .arg(thousands(r.rows))
                              .arg(r.fewestRows != r.mostRows ? QStringLiteral(" (%1–%2)")
                                                                    .arg(thousands(r.fewestRows))
                                                                    .arg(thousands(r.mostRows))
                                                              : QString())
                              .arg(thousands(r.drops))
                              .arg(msText(r.firstToLastMs));
            const double share = r.sent > 0 ? 100.0 * r.rows / r.sent : 0;
            row.ratio = QStringLiteral("%1 % of sent").arg(share, 0, 'f', 1);
            row.met = yesNo(share >= 98.0);
        }
        rows.push_back(row);
    }
    progress(QStringLiteral("a search on %1 adapters").arg(kAdapters));
    rows.push_back(twentyAdapters(program, complete));
    return rows;
}
