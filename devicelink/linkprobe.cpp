// The system's ways of asking a link who holds an address: raw ARP probes where this
// process may send them, else the system's own neighbour resolution (Linux's neighbour
// table read over rtnetlink, Windows' GetIpNetTable2) for addresses on the adapter's subnets.
#include "addresscheck.h"
#include "arpprobe.h"
#include "netcompat.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>

#include <chrono>
#include <map>
#include <thread>

#ifdef _WIN32
#include <iphlpapi.h>
#include <netioapi.h>
#else
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#endif

namespace {
using Clock = std::chrono::steady_clock;

// The discard port: a trigger datagram that reaches a holder does nothing there.
constexpr uint16_t kTriggerPort = 9;
// Resolution gives up after 3 requests 1 s apart (Linux's and Windows' defaults).
constexpr int kResolveMs = 3600;
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

class RawArpProbe : public LinkProbe {
public:
    std::vector<AddressVerdict> probe(
        const std::vector<AddressQuery>& queries, const std::atomic<bool>& cancel) override
    {
        std::vector<AddressVerdict> verdicts(queries.size());
        std::vector<ArpLink> links;
        std::vector<std::vector<size_t>> asked;
        for (const auto& [index, members] : byAdapter(queries)) {
            const AdapterLink a = readAdapter(index);
            const UncheckedReason why = !a.present || !a.up ? UncheckedReason::AdapterGone
                : !a.resolves                               ? UncheckedReason::CannotResolve
                                                            : UncheckedReason::None;
            if (why != UncheckedReason::None) {
                for (size_t i : members)
                    verdicts[i] = AddressVerdict::unchecked(why);
                continue;
            }
            ArpLink link { index, a.mac, {} };
            for (size_t i : members)
                link.targets.push_back(queries[i].address);
            links.push_back(std::move(link));
            asked.push_back(members);
        }
        const std::vector<ArpLinkResult> results = ProbeWithArp(links, cancel);
        for (size_t k = 0; k < links.size(); ++k) {
            const ArpLinkResult& r = results[k];
            // The adapter may have gone since it was probed: nobody's answer then means nothing.
            const bool gone = r.end == ArpEnd::AdapterGone || !readAdapter(links[k].index).up;
            for (size_t t = 0; t < asked[k].size(); ++t) {
                const std::optional<MacAddress>& holder = r.holders[t];
                verdicts[asked[k][t]] = holder ? AddressVerdict::host(macText(*holder))
                    : gone                     ? AddressVerdict::unchecked(UncheckedReason::AdapterGone)
                    : r.end == ArpEnd::Done    ? AddressVerdict::free()
                                               : AddressVerdict::unchecked(UncheckedReason::CannotResolve);
            }
        }
        return verdicts;
    }
    std::optional<AddressVerdict> atOnce(const AddressQuery& query) const override
    {
        return adapterVerdict(m_adapters(query.adapter));
    }

private:
    mutable AdapterMemo m_adapters; // for atOnce: one probe object serves one check
};

// What the system's table says of one address, once the trigger went out.
enum class Resolution { Pending, Held, Failed, NoArp };

struct NeighbourEntry {
    Resolution state = Resolution::Pending;
    MacAddress mac {};
};

using NeighbourTable = std::map<std::pair<int, uint32_t>, NeighbourEntry>; // (adapter, address)

#ifdef _WIN32
bool readNeighbours(NeighbourTable* table)
{
    PMIB_IPNET_TABLE2 rows = nullptr;
    // AF_INET alone: some systems fail the whole call on their IPv6 half.
    if (GetIpNetTable2(AF_INET, &rows) != NO_ERROR || !rows)
        return false;
    for (ULONG i = 0; i < rows->NumEntries; ++i) {
        const MIB_IPNET_ROW2& r = rows->Table[i];
        if (r.Address.si_family != AF_INET)
            continue;
        NeighbourEntry e;
        bool nonzero = false;
        if (r.PhysicalAddressLength == 6) {
            for (int b = 0; b < 6; ++b) {
                e.mac[size_t(b)] = r.PhysicalAddress[b];
                nonzero = nonzero || r.PhysicalAddress[b] != 0;
            }
        }
        // Some systems list an address still being resolved as stale, with no MAC.
        if (r.State == NlnsUnreachable)
            e.state = Resolution::Failed;
        else if (r.State >= NlnsProbe && r.State <= NlnsPermanent && nonzero && !r.IsUnreachable)
            e.state = Resolution::Held;
        (*table)[{ int(r.InterfaceIndex), ntohl(r.Address.Ipv4.sin_addr.s_addr) }] = e;
    }
    FreeMibTable(rows);
    return true;
}
#else
bool readNeighbours(NeighbourTable* table)
{
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
            bool haveMac = false;
            for (const rtattr* a = reinterpret_cast<const rtattr*>(
                     reinterpret_cast<const char*>(m) + NLMSG_ALIGN(sizeof(ndmsg)));
                 RTA_OK(a, attributesLeft); a = RTA_NEXT(a, attributesLeft)) {
                if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == 4) {
                    std::memcpy(&address, RTA_DATA(a), 4);
                    address = ntohl(address);
                    haveAddress = true;
                } else if (a->rta_type == NDA_LLADDR && RTA_PAYLOAD(a) == 6) {
                    std::memcpy(e.mac.data(), RTA_DATA(a), 6);
                    haveMac = e.mac != MacAddress {};
                }
            }
            if (!haveAddress)
                continue;
            const uint16_t s = m->ndm_state;
            if (s & NUD_FAILED)
                e.state = Resolution::Failed;
            else if (s & NUD_NOARP)
                e.state = Resolution::NoArp;
            else if ((s & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT)) && haveMac)
                e.state = Resolution::Held;
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

class NeighbourProbe : public LinkProbe {
public:
    NeighbourProbe() { net::startup(); }
    std::vector<AddressVerdict> probe(
        const std::vector<AddressQuery>& queries, const std::atomic<bool>& cancel) override
    {
        std::vector<AddressVerdict> verdicts(queries.size());
        std::vector<size_t> waiting;
        std::vector<bool> settled(queries.size(), false);
        const net::Socket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        for (const auto& [index, members] : byAdapter(queries)) {
            const AdapterLink a = readAdapter(index);
            for (size_t i : members) {
                const uint32_t address = queries[i].address;
                UncheckedReason why = !a.present || !a.up ? UncheckedReason::AdapterGone
                    : !a.resolves || !net::isValid(s)     ? UncheckedReason::CannotResolve
                    : !onLink(a, address)                 ? UncheckedReason::OffLink
                                                          : UncheckedReason::None;
                if (why == UncheckedReason::None && !sendTrigger(s, index, address) && !readAdapter(index).up)
                    why = UncheckedReason::AdapterGone;
                if (why != UncheckedReason::None) {
                    verdicts[i] = AddressVerdict::unchecked(why);
                    settled[i] = true;
                } else {
                    waiting.push_back(i);
                }
            }
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kResolveMs);
        NeighbourTable table;
        bool readable = true;
        while (!waiting.empty()) {
            table.clear();
            readable = readNeighbours(&table);
            std::vector<size_t> still;
            for (size_t i : waiting) {
                const auto found = table.find({ queries[i].adapter, queries[i].address });
                if (found == table.end() || found->second.state == Resolution::Pending) {
                    still.push_back(i);
                    continue;
                }
                const NeighbourEntry& e = found->second;
                verdicts[i] = e.state == Resolution::Held ? AddressVerdict::host(macText(e.mac))
                    : e.state == Resolution::Failed
                    ? AddressVerdict::free()
                    : AddressVerdict::unchecked(UncheckedReason::CannotResolve);
                settled[i] = true;
            }
            waiting.swap(still);
            if (waiting.empty() || cancel || Clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadEveryMs));
        }
        AdapterMemo now;
        for (size_t i : waiting) {
            const auto found = table.find({ queries[i].adapter, queries[i].address });
            // Asked for and never answered: nobody holds it, as far as the link tells.
            const bool asked = readable && !cancel && found != table.end();
            verdicts[i] = !now(queries[i].adapter).up
                ? AddressVerdict::unchecked(UncheckedReason::AdapterGone)
                : asked ? AddressVerdict::free()
                        : AddressVerdict::unchecked(UncheckedReason::CannotResolve);
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
        std::vector<std::pair<std::unique_ptr<QProcess>, std::vector<size_t>>> runs;
        for (const auto& [index, members] : byAdapter(queries)) {
            QStringList args { QString::number(index) };
            for (size_t i : members)
                args << QHostAddress(queries[i].address).toString();
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start(m_helper, args);
            runs.emplace_back(std::move(p), members);
        }
        std::vector<AddressQuery> refused;
        std::vector<size_t> refusedAt;
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        for (auto& [p, members] : runs) {
            while (!p->waitForFinished(50) && p->state() != QProcess::NotRunning) {
                if (cancel || Clock::now() >= deadline) {
                    p->kill();
                    p->waitForFinished(1000);
                    break;
                }
            }
            const bool ran = p->exitStatus() == QProcess::NormalExit;
            if (ran && p->exitCode() == 3) { // no capability: ask the system instead
                for (size_t i : members) {
                    refused.push_back(queries[i]);
                    refusedAt.push_back(i);
                }
                continue;
            }
            QHash<uint32_t, AddressVerdict> said;
            bool gone = ran && p->exitCode() == 4;
            while (ran && p->exitCode() == 0 && p->canReadLine()) {
                const QList<QByteArray> words = p->readLine().trimmed().split(' ');
                if (words.size() == 2 && words[0] == "end")
                    gone = words[1] == "gone";
                const quint32 address = QHostAddress(QString::fromLatin1(words[0])).toIPv4Address();
                if (words.size() == 2 && words[1] == "free")
                    said.insert(address, AddressVerdict::free());
                else if (words.size() == 3 && words[1] == "taken" && words[2].size() == 17)
                    said.insert(address, AddressVerdict::host(QString::fromLatin1(words[2])));
            }
            for (size_t i : members) {
                const AddressVerdict v = said.value(
                    queries[i].address, AddressVerdict::unchecked(UncheckedReason::CannotResolve));
                verdicts[i] = gone && v.state != AddressState::Taken
                    ? AddressVerdict::unchecked(UncheckedReason::AdapterGone)
                    : v;
            }
        }
        if (!refused.empty()) {
            const std::vector<AddressVerdict> asked = NeighbourLinkProbe()->probe(refused, cancel);
            for (size_t k = 0; k < refused.size(); ++k)
                verdicts[refusedAt[k]] = asked[k];
        }
        return verdicts;
    }
    std::optional<AddressVerdict> atOnce(const AddressQuery& query) const override
    {
        return adapterVerdict(m_adapters(query.adapter));
    }

private:
    mutable AdapterMemo m_adapters; // for atOnce: one probe object serves one check

private:
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
