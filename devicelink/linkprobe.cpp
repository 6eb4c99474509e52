// The system's ways of asking a link who holds an address: raw ARP probes where this
// process may send them, else the system's own neighbour resolution (Linux's neighbour
// table read over rtnetlink; on Windows, neighbourresolution_win.cpp) for addresses on the
// adapter's subnets.
#include "addresscheck.h"
#include "arpprobe.h"
#include "neighbourresolution.h"
#include "netcompat.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#ifndef _WIN32
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#endif

namespace {
using Clock = std::chrono::steady_clock;

// The discard port: a trigger datagram that reaches a holder does nothing there.
constexpr uint16_t kTriggerPort = 9;
// An old entry the trigger woke: Linux waits 5 s before it asks the holder again, then asks
// it 3 times 1 s apart; confirmed then, or failed (and then asked of the link again).
constexpr int kConfirmMs = 9500;
constexpr int kReadEveryMs = 100;

struct Subnet {
    uint32_t network = 0;
    uint32_t mask = 0;
};

struct AdapterLink {
    bool present = false;
    bool up = false;
    bool resolves = false; // has a link-layer address and uses ARP
    MacAddress mac {};
    std::vector<Subnet> subnets;
};

AdapterLink readAdapter(int index)
{
    AdapterLink a;
    const QNetworkInterface iface = QNetworkInterface::interfaceFromIndex(index);
    if (!iface.isValid())
        return a;
    a.present = true;
    const auto flags = iface.flags();
    a.up = flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning);
    const QStringList bytes = iface.hardwareAddress().split(QLatin1Char(':'));
    bool nonzero = false;
    if (bytes.size() == 6) {
        for (int i = 0; i < 6; ++i) {
            bool ok = false;
            a.mac[size_t(i)] = static_cast<unsigned char>(bytes[i].toUInt(&ok, 16));
            nonzero = nonzero || a.mac[size_t(i)] != 0;
        }
    }
    a.resolves = nonzero && !flags.testFlag(QNetworkInterface::IsLoopBack)
        && !flags.testFlag(QNetworkInterface::IsPointToPoint);
    for (const QNetworkAddressEntry& e : iface.addressEntries()) {
        bool ipv4 = false;
        const uint32_t ip = e.ip().toIPv4Address(&ipv4);
        if (!ipv4 || e.prefixLength() <= 0 || e.prefixLength() > 32)
            continue;
        const uint32_t mask = e.prefixLength() == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> e.prefixLength());
        a.subnets.push_back({ ip & mask, mask });
    }
    return a;
}

std::optional<AddressVerdict> adapterVerdict(const AdapterLink& a)
{
    if (!a.present || !a.up)
        return AddressVerdict::unchecked(UncheckedReason::AdapterGone);
    if (!a.resolves)
        return AddressVerdict::unchecked(UncheckedReason::CannotResolve);
    return std::nullopt;
}

// Each adapter read once for the queries of one check, however many name it.
class AdapterMemo {
public:
    const AdapterLink& operator()(int index)
    {
        auto found = m_read.find(index);
        if (found == m_read.end())
            found = m_read.emplace(index, readAdapter(index)).first;
        return found->second;
    }

private:
    std::map<int, AdapterLink> m_read;
};

bool onLink(const AdapterLink& a, uint32_t address)
{
    for (const Subnet& s : a.subnets) {
        if ((address & s.mask) == s.network)
            return true;
    }
    return false;
}

// The queries of each adapter, by index, with where each stands in the caller's list.
std::map<int, std::vector<size_t>> byAdapter(const std::vector<AddressQuery>& queries)
{
    std::map<int, std::vector<size_t>> groups;
    for (size_t i = 0; i < queries.size(); ++i)
        groups[queries[i].adapter].push_back(i);
    return groups;
}

QString macText(const MacAddress& mac)
{
    return MacText(mac.data(), int(mac.size()));
}

// An adapter's addresses in runs of at most size, in order.
std::vector<std::vector<size_t>> inRuns(const std::vector<size_t>& members, size_t size)
{
    std::vector<std::vector<size_t>> runs;
    for (size_t i = 0; i < members.size(); i += size)
        runs.emplace_back(
            members.begin() + long(i), members.begin() + long(std::min(members.size(), i + size)));
    return runs;
}

class RawArpProbe : public LinkProbe {
public:
    std::vector<AddressVerdict> probe(
        const std::vector<AddressQuery>& queries, const std::atomic<bool>& cancel) override
    {
        std::vector<AddressVerdict> verdicts(queries.size());
        // Adapters at once, each on a thread of its own; an adapter's runs one after another.
        std::vector<std::thread> adapters;
        for (const auto& [index, members] : byAdapter(queries)) {
            adapters.emplace_back([&, index = index, members = members] {
                for (const std::vector<size_t>& run : inRuns(members, kMaxArpTargets))
                    probeRun(index, queries, run, cancel, &verdicts);
            });
        }
        for (std::thread& t : adapters)
            t.join();
        return verdicts;
    }
    std::optional<AddressVerdict> atOnce(const AddressQuery& query) const override
    {
        return adapterVerdict(m_adapters(query.adapter));
    }

private:
    // One run on one adapter, in its turn on the machine; writes the run's verdicts only.
    static void probeRun(int index, const std::vector<AddressQuery>& queries, const std::vector<size_t>& run,
        const std::atomic<bool>& cancel, std::vector<AddressVerdict>* verdicts)
    {
        const auto all = [&](UncheckedReason why) {
            for (size_t i : run)
                (*verdicts)[i] = AddressVerdict::unchecked(why);
        };
        const AdapterLink a = readAdapter(index);
        if (const std::optional<AddressVerdict> v = adapterVerdict(a))
            return all(v->reason);
        const int lock = TakeProbeLock(index, kProbeLockWaitMs, cancel);
        if (lock < 0)
            return all(errno == EBUSY ? UncheckedReason::ProbeBusy : UncheckedReason::CannotResolve);
        ArpLink link { index, a.mac, {} };
        for (size_t i : run)
            link.targets.push_back(queries[i].address);
        const ArpLinkResult r = ProbeWithArp({ link }, cancel).front();
        ReleaseProbeLock(lock);
        // The adapter may have gone since it was probed: nobody's answer then means nothing.
        const bool gone = r.end == ArpEnd::AdapterGone || !readAdapter(index).up;
        for (size_t t = 0; t < run.size(); ++t) {
            const std::optional<MacAddress>& holder = r.holders[t];
            (*verdicts)[run[t]] = holder ? AddressVerdict::host(macText(*holder))
                : gone                   ? AddressVerdict::unchecked(UncheckedReason::AdapterGone)
                : r.end == ArpEnd::Done  ? AddressVerdict::free()
                                         : AddressVerdict::unchecked(UncheckedReason::CannotResolve);
        }
    }

    mutable AdapterMemo m_adapters; // for atOnce: one probe object serves one check
};

#ifndef _WIN32
// An entry of the system's table.
struct NeighbourEntry {
    NeighbourState state = NeighbourState::Incomplete;
    bool hasMac = false;
    int64_t confirmedAgoMs = 0;
    MacAddress mac {};
};

using NeighbourTable = std::map<std::pair<int, uint32_t>, NeighbourEntry>; // (adapter, address)

NeighbourState neighbourState(uint16_t nud)
{
    if (nud & NUD_FAILED)
        return NeighbourState::Failed;
    if (nud & NUD_NOARP)
        return NeighbourState::NoArp;
    if (nud & NUD_PERMANENT)
        return NeighbourState::Permanent;
    if (nud & NUD_REACHABLE)
        return NeighbourState::Reachable;
    if (nud & NUD_STALE)
        return NeighbourState::Stale;
    if (nud & NUD_DELAY)
        return NeighbourState::Delay;
    if (nud & NUD_PROBE)
        return NeighbourState::Probe;
    return NeighbourState::Incomplete;
}

// An entry that does not say when it was confirmed proves no more than a stale one.
constexpr int64_t kNeverConfirmedMs = int64_t(1) << 40;

bool readNeighbours(NeighbourTable* table)
{
    const long ticks = std::max(1L, sysconf(_SC_CLK_TCK));
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return false;
    struct {
        nlmsghdr header;
        ndmsg message;
    } request {};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.ndm_family = AF_INET;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        close(fd);
        return false;
    }
    alignas(nlmsghdr) char buffer[32768];
    bool ended = false;
    bool ok = true;
    while (!ended && ok) {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, 1000) <= 0) {
            ok = false;
            break;
        }
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            ok = false;
            break;
        }
        int left = int(got);
        for (const nlmsghdr* h = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE) {
                ended = true;
                break;
            }
            if (h->nlmsg_type == NLMSG_ERROR) {
                ok = false;
                break;
            }
            if (h->nlmsg_type != RTM_NEWNEIGH || h->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
                continue;
            const ndmsg* m = static_cast<const ndmsg*>(NLMSG_DATA(h));
            if (m->ndm_family != AF_INET)
                continue;
            int attributesLeft = int(h->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
            uint32_t address = 0;
            bool haveAddress = false;
            NeighbourEntry e;
            e.confirmedAgoMs = kNeverConfirmedMs; // until the entry says when
            for (const rtattr* a = reinterpret_cast<const rtattr*>(
                     reinterpret_cast<const char*>(m) + NLMSG_ALIGN(sizeof(ndmsg)));
                 RTA_OK(a, attributesLeft); a = RTA_NEXT(a, attributesLeft)) {
                if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == 4) {
                    std::memcpy(&address, RTA_DATA(a), 4);
                    address = ntohl(address);
                    haveAddress = true;
                } else if (a->rta_type == NDA_LLADDR && RTA_PAYLOAD(a) == 6) {
                    std::memcpy(e.mac.data(), RTA_DATA(a), 6);
                    e.hasMac = e.mac != MacAddress {};
                } else if (a->rta_type == NDA_CACHEINFO && RTA_PAYLOAD(a) >= sizeof(nda_cacheinfo)) {
                    nda_cacheinfo info;
                    std::memcpy(&info, RTA_DATA(a), sizeof info);
                    // An age in the clock ticks of times(2) (USER_HZ), not in jiffies.
                    e.confirmedAgoMs = int64_t(info.ndm_confirmed) * 1000 / ticks;
                }
            }
            if (!haveAddress)
                continue;
            e.state = neighbourState(m->ndm_state);
            (*table)[{ m->ndm_ifindex, address }] = e;
        }
    }
    close(fd);
    return ok;
}
#endif

// One datagram to the address by the adapter: the system resolves the address to send it.
bool sendTrigger(net::Socket s, int adapter, uint32_t address)
{
    // Out of this adapter even where another one routes the subnet too.
    const uint32_t index = htonl(uint32_t(adapter));
    net::setOption(s, IPPROTO_IP, IP_UNICAST_IF, &index, sizeof index);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(kTriggerPort);
    to.sin_addr.s_addr = htonl(address);
    const unsigned char nothing = 0;
    return net::sendTo(s, &nothing, 0, to) >= 0;
}

// How many addresses one batch puts into the system's table: well below the most it keeps
// (gc_thresh3, 1,024 by default), where it starts dropping entries, others' included.
size_t neighbourBatch()
{
    long most = 1024;
#ifdef __linux__
    QFile limit(QStringLiteral("/proc/sys/net/ipv4/neigh/default/gc_thresh3"));
    if (limit.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const long read = QString::fromLatin1(limit.read(32)).trimmed().toLong(&ok);
        if (ok)
            most = read;
    }
#endif
    return size_t(std::clamp(most / 4, 16L, 256L));
}

class NeighbourProbe : public LinkProbe {
public:
    NeighbourProbe() { net::startup(); }
    std::vector<AddressVerdict> probe(
        const std::vector<AddressQuery>& queries, const std::atomic<bool>& cancel) override
    {
        std::vector<AddressVerdict> verdicts(queries.size());
        const net::Socket s = net::udpSocket();
        // Else, on Windows, the first holder that refuses a trigger stops the rest.
        if (net::isValid(s))
            net::ignoreUdpResets(s);
        std::vector<size_t> toAsk;
        for (const auto& [index, members] : byAdapter(queries)) {
            const AdapterLink a = readAdapter(index);
            for (size_t i : members) {
                const UncheckedReason why = !a.present || !a.up ? UncheckedReason::AdapterGone
                    : !a.resolves || !net::isValid(s)           ? UncheckedReason::CannotResolve
                    : !onLink(a, queries[i].address)            ? UncheckedReason::OffLink
                                                                : UncheckedReason::None;
                if (why != UncheckedReason::None)
                    verdicts[i] = AddressVerdict::unchecked(why);
                else
                    toAsk.push_back(i);
            }
        }
        for (const std::vector<size_t>& batch : inRuns(toAsk, neighbourBatch())) {
            if (!cancel)
                resolveBatch(s, queries, batch, cancel, &verdicts);
            else
                for (size_t i : batch)
                    verdicts[i] = AddressVerdict::unchecked(UncheckedReason::CannotResolve);
        }
        if (net::isValid(s))
            net::closeSocket(s);
        return verdicts;
    }
    std::optional<AddressVerdict> atOnce(const AddressQuery& query) const override
    {
        const AdapterLink& a = m_adapters(query.adapter);
        if (std::optional<AddressVerdict> v = adapterVerdict(a))
            return v;
        if (!onLink(a, query.address))
            return AddressVerdict::unchecked(UncheckedReason::OffLink);
        return std::nullopt;
    }

private:
#ifdef _WIN32
    // Each address resolved afresh where the system can; else by the trigger.
    static void resolveBatch(net::Socket s, const std::vector<AddressQuery>& queries,
        const std::vector<size_t>& batch, const std::atomic<bool>& cancel,
        std::vector<AddressVerdict>* verdicts)
    {
        std::vector<AddressQuery> asked;
        for (size_t i : batch)
            asked.push_back(queries[i]);
        std::vector<AddressVerdict> said;
        if (!ResolveAfreshOnWindows(asked, cancel, &said))
            said = ResolveByTriggerOnWindows(
                asked, [s](const AddressQuery& q) { return sendTrigger(s, q.adapter, q.address); }, cancel);
        for (size_t k = 0; k < batch.size(); ++k)
            (*verdicts)[batch[k]] = said[k];
    }
#else
    // Triggers the batch's resolutions and reads the table until each is known or the
    // resolution's bound passed; longer while an old entry may yet be confirmed.
    static void resolveBatch(net::Socket s, const std::vector<AddressQuery>& queries,
        const std::vector<size_t>& batch, const std::atomic<bool>& cancel,
        std::vector<AddressVerdict>* verdicts)
    {
        const Clock::time_point begin = Clock::now();
        std::vector<size_t> waiting;
        for (size_t i : batch) {
            if (!sendTrigger(s, queries[i].adapter, queries[i].address)
                && !readAdapter(queries[i].adapter).up)
                (*verdicts)[i] = AddressVerdict::unchecked(UncheckedReason::AdapterGone);
            else
                waiting.push_back(i);
        }
        NeighbourTable table;
        bool readable = true;
        // Linux's periodic collection drops a failed entry whenever the table holds more than
        // gc_thresh1, possibly between two reads; one still being resolved is never dropped,
        // so an entry seen being resolved that is gone, its adapter still up, has failed:
        // nobody answered. (An adapter that goes down takes its entries with it.)
        std::set<size_t> resolving;
        const auto proofOf = [&](size_t i, const NeighbourEntry** entry) {
            const auto found = table.find({ queries[i].adapter, queries[i].address });
            *entry = found == table.end() ? nullptr : &found->second;
            const int64_t began
                = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
            if (!*entry)
                return resolving.count(i) && readable && readAdapter(queries[i].adapter).up
                    ? NeighbourProof::Nobody
                    : NeighbourProof::Pending;
            const NeighbourProof proof
                = NeighbourEntryProof((*entry)->state, (*entry)->hasMac, (*entry)->confirmedAgoMs, began);
            if (proof == NeighbourProof::Pending && (*entry)->state == NeighbourState::Incomplete)
                resolving.insert(i);
            return proof;
        };
        // An old entry failing proves only that its old holder went quiet: asked again, the
        // system asks the whole link.
        std::set<size_t> old;
        std::set<size_t> askedAgain;
        Clock::time_point until = begin + std::chrono::milliseconds(kResolveMs);
        while (!waiting.empty()) {
            table.clear();
            readable = readNeighbours(&table);
            std::vector<size_t> still;
            for (size_t i : waiting) {
                const NeighbourEntry* e = nullptr;
                const NeighbourProof proof = proofOf(i, &e);
                if (proof == NeighbourProof::LastSeen && old.insert(i).second)
                    until = std::max(until, begin + std::chrono::milliseconds(kConfirmMs));
                if (proof == NeighbourProof::Nobody && old.count(i) && askedAgain.insert(i).second) {
                    sendTrigger(s, queries[i].adapter, queries[i].address);
                    until = std::max(until, Clock::now() + std::chrono::milliseconds(kResolveMs));
                    still.push_back(i);
                    continue;
                }
                if (proof == NeighbourProof::Pending || proof == NeighbourProof::LastSeen) {
                    still.push_back(i);
                    continue;
                }
                (*verdicts)[i] = proof == NeighbourProof::Holder ? AddressVerdict::host(macText(e->mac))
                    : proof == NeighbourProof::Nobody
                    ? AddressVerdict::free()
                    : AddressVerdict::unchecked(UncheckedReason::CannotResolve);
            }
            waiting.swap(still);
            if (waiting.empty() || cancel || Clock::now() >= until)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadEveryMs));
        }
        AdapterMemo now;
        for (size_t i : waiting) {
            const NeighbourEntry* e = nullptr;
            const NeighbourProof proof = proofOf(i, &e);
            // Asked for and never answered: nobody holds it, as far as the link tells.
            const bool asked = readable && !cancel && e;
            (*verdicts)[i] = !now(queries[i].adapter).up
                ? AddressVerdict::unchecked(UncheckedReason::AdapterGone)
                : proof == NeighbourProof::LastSeen && !cancel ? AddressVerdict::lastSeen(
                      macText(e->mac), int(std::clamp<int64_t>(e->confirmedAgoMs / 60000, 1, 1 << 20)))
                : asked ? AddressVerdict::free()
                        : AddressVerdict::unchecked(UncheckedReason::CannotResolve);
        }
    }
#endif

    mutable AdapterMemo m_adapters; // for atOnce: one probe object serves one check
};

#ifdef __linux__
// The probe helper beside the program in a build, or where the package puts it.
QString probeHelper()
{
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& path : { here + QStringLiteral("/devicesearch-probe"),
             here + QStringLiteral("/../libexec/devicesearch/devicesearch-probe") }) {
        if (QFileInfo(path).isExecutable())
            return QFileInfo(path).canonicalFilePath();
    }
    return QString();
}

// Raw probes through the helper, for a process that may not send them itself; where the
// helper may not either, the neighbour resolution.
class HelperArpProbe : public LinkProbe {
public:
    explicit HelperArpProbe(QString helper)
        : m_helper(std::move(helper))
    {
    }
    std::vector<AddressVerdict> probe(
        const std::vector<AddressQuery>& queries, const std::atomic<bool>& cancel) override
    {
        std::vector<AddressVerdict> verdicts(
            queries.size(), AddressVerdict::unchecked(UncheckedReason::CannotResolve));
        // Adapters at once, an adapter's runs one after another: the helper takes one
        // adapter's turn at a time anyway.
        struct Adapter {
            int index = 0;
            std::vector<std::vector<size_t>> runs;
            size_t next = 0;
            std::unique_ptr<QProcess> process;
            Clock::time_point deadline;
        };
        std::vector<Adapter> adapters;
        for (const auto& [index, members] : byAdapter(queries))
            adapters.push_back({ index, inRuns(members, kMaxArpTargets), 0, nullptr, {} });
        std::vector<size_t> refused;
        for (bool running = true; running;) {
            running = false;
            for (Adapter& a : adapters) {
                if (!a.process && a.next < a.runs.size() && !cancel) {
                    a.process = start(a.index, queries, a.runs[a.next]);
                    a.deadline = Clock::now() + runBound(a.runs[a.next].size());
                }
                if (!a.process)
                    continue;
                running = true;
                if (!a.process->waitForFinished(20) && a.process->state() != QProcess::NotRunning) {
                    if (!cancel && Clock::now() < a.deadline)
                        continue;
                    a.process->kill();
                    a.process->waitForFinished(1000);
                }
                const std::vector<size_t>& run = a.runs[a.next++];
                if (!readRun(a.process.get(), queries, run, &verdicts))
                    refused.insert(refused.end(), run.begin(), run.end());
                a.process.reset();
            }
        }
        if (!refused.empty()) {
            std::vector<AddressQuery> asked;
            for (size_t i : refused)
                asked.push_back(queries[i]);
            const std::vector<AddressVerdict> said = NeighbourLinkProbe()->probe(asked, cancel);
            for (size_t k = 0; k < refused.size(); ++k)
                verdicts[refused[k]] = said[k];
        }
        return verdicts;
    }
    std::optional<AddressVerdict> atOnce(const AddressQuery& query) const override
    {
        return adapterVerdict(m_adapters(query.adapter));
    }

private:
    // The helper's exit statuses.
    enum { kDone = 0, kBadArguments = 2, kNoPermission = 3, kNoAdapter = 4, kBusy = 5 };

    // How long a run may take: its turn, its probes at the helper's pace, and its listening.
    static std::chrono::milliseconds runBound(size_t addresses)
    {
        return std::chrono::milliseconds(kProbeLockWaitMs + 5000 + kArpListenMs
            + int64_t(addresses) * kArpProbeRounds * 1000 / kMaxArpProbesPerSecond);
    }

    std::unique_ptr<QProcess> start(
        int index, const std::vector<AddressQuery>& queries, const std::vector<size_t>& run) const
    {
        QStringList args { QString::number(index) };
        for (size_t i : run)
            args << QHostAddress(queries[i].address).toString();
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(m_helper, args);
        return p;
    }

    // The verdicts of a run that ended (or was ended); false when the helper may not probe,
    // so that the system's resolution answers instead.
    static bool readRun(QProcess* p, const std::vector<AddressQuery>& queries, const std::vector<size_t>& run,
        std::vector<AddressVerdict>* verdicts)
    {
        const bool ran = p->exitStatus() == QProcess::NormalExit && p->error() != QProcess::FailedToStart;
        const int status = ran ? p->exitCode() : -1;
        if (status == kNoPermission)
            return false;
        UncheckedReason why = status == kBusy ? UncheckedReason::ProbeBusy
            : status == kNoAdapter            ? UncheckedReason::AdapterGone
                                              : UncheckedReason::ProbeFailed;
        QHash<uint32_t, AddressVerdict> said;
        while (status == kDone && p->canReadLine()) {
            const QList<QByteArray> words = p->readLine().trimmed().split(' ');
            if (words.size() == 2 && words[0] == "end") {
                why = words[1] == "done" ? UncheckedReason::None
                    : words[1] == "gone" ? UncheckedReason::AdapterGone
                                         : UncheckedReason::ProbeFailed;
                continue;
            }
            const quint32 address = QHostAddress(QString::fromLatin1(words[0])).toIPv4Address();
            if (words.size() == 2 && words[1] == "free")
                said.insert(address, AddressVerdict::free());
            else if (words.size() == 3 && words[1] == "taken" && words[2].size() == 17)
                said.insert(address, AddressVerdict::host(QString::fromLatin1(words[2])));
        }
        for (size_t i : run) {
            const AddressVerdict v
                = said.value(queries[i].address, AddressVerdict::unchecked(UncheckedReason::ProbeFailed));
            // A holder that answered is one, whatever happened after.
            (*verdicts)[i] = why != UncheckedReason::None && v.state != AddressState::Taken
                ? AddressVerdict::unchecked(why)
                : v;
        }
        return true;
    }

    mutable AdapterMemo m_adapters; // for atOnce: one probe object serves one check
    QString m_helper;
};
#endif
}

std::optional<AddressVerdict> AdapterVerdict(int adapter)
{
    return adapterVerdict(readAdapter(adapter));
}

std::unique_ptr<LinkProbe> RawArpLinkProbe()
{
    return std::make_unique<RawArpProbe>();
}

std::unique_ptr<LinkProbe> NeighbourLinkProbe()
{
    return std::make_unique<NeighbourProbe>();
}

std::unique_ptr<LinkProbe> HelperArpLinkProbe(const QString& path)
{
#ifdef __linux__
    return std::make_unique<HelperArpProbe>(path);
#else
    Q_UNUSED(path);
    return NeighbourLinkProbe();
#endif
}

std::unique_ptr<LinkProbe> SystemLinkProbe()
{
    if (MayProbeWithArp())
        return RawArpLinkProbe();
#ifdef __linux__
    const QString helper = probeHelper();
    if (!helper.isEmpty())
        return std::make_unique<HelperArpProbe>(helper);
#endif
    return NeighbourLinkProbe();
}
