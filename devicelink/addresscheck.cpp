#include "addresscheck.h"

#include <QHash>
#include <QHostAddress>
#include <QNetworkInterface>

#include <utility>

QSet<uint32_t> ThisComputerAddresses()
{
    QSet<uint32_t> own;
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        bool ipv4 = false;
        const uint32_t value = a.toIPv4Address(&ipv4);
        if (ipv4)
            own.insert(value);
    }
    return own;
}

std::optional<AddressVerdict> JudgeWithoutLink(const AddressQuery& query, const AddressCheckInput& input)
{
    if (input.own.contains(query.address))
        return AddressVerdict { AddressState::Taken, HolderKind::ThisComputer, {}, {},
            UncheckedReason::None };
    // A device of the search answers from it: it holds it unless it moves away in this batch.
    // Only the search can tell, since the device still answers there until its command. Any
    // other answer there holds it too, one that names a moving device's serial number as well:
    // a forged reply must not hand out the gateway's address.
    bool leaving = false;
    for (const HeardAddress& h : input.heard) {
        if (h.address != query.address || h.adapter != query.adapter)
            continue;
        if (h.serial.isEmpty() || !input.moving.contains(h))
            return AddressVerdict { AddressState::Taken, HolderKind::Device, {}, h.serial,
                UncheckedReason::None };
        leaving = true;
    }
    if (leaving)
        return AddressVerdict::free();
    if (query.adapter == 0)
        return AddressVerdict::unchecked(UncheckedReason::UnknownAdapter);
    return std::nullopt;
}

std::optional<AddressVerdict> LinkProbe::atOnce(const AddressQuery& query) const
{
    return AdapterVerdict(query.adapter);
}

std::optional<AddressVerdict> JudgeWithoutProbe(
    const AddressQuery& query, const AddressCheckInput& input, const LinkProbe* link)
{
    if (std::optional<AddressVerdict> v = JudgeWithoutLink(query, input))
        return v;
    return link ? link->atOnce(query) : AdapterVerdict(query.adapter);
}

std::optional<std::vector<AddressVerdict>> VerdictsAtOnce(
    const AddressCheckInput& input, const LinkProbe* link)
{
    std::vector<AddressVerdict> verdicts;
    for (const AddressQuery& q : input.queries) {
        const std::optional<AddressVerdict> v = JudgeWithoutProbe(q, input, link);
        if (!v)
            return std::nullopt;
        verdicts.push_back(*v);
    }
    return verdicts;
}

std::vector<AddressVerdict> CheckAddresses(
    const AddressCheckInput& input, LinkProbe* link, const std::atomic<bool>& cancel)
{
    std::vector<AddressVerdict> verdicts(input.queries.size());
    std::vector<AddressQuery> toLink;
    std::vector<size_t> where;
    // Each address and adapter once on the link, however many queries name it.
    QHash<QPair<uint32_t, int>, size_t> asked;
    std::vector<std::vector<size_t>> sameAs;
    for (size_t i = 0; i < input.queries.size(); ++i) {
        const AddressQuery& q = input.queries[i];
        // The link's methods look at the adapter themselves; without one it is all there is.
        if (const std::optional<AddressVerdict> v
            = link ? JudgeWithoutLink(q, input) : JudgeWithoutProbe(q, input)) {
            verdicts[i] = *v;
            continue;
        }
        const QPair<uint32_t, int> key(q.address, q.adapter);
        const auto found = asked.constFind(key);
        if (found != asked.constEnd()) {
            sameAs[*found].push_back(i);
            continue;
        }
        asked.insert(key, toLink.size());
        toLink.push_back(q);
        sameAs.push_back({ i });
    }
    if (toLink.empty())
        return verdicts;
    std::vector<AddressVerdict> linked = link ? link->probe(toLink, cancel) : std::vector<AddressVerdict>();
    linked.resize(toLink.size(), AddressVerdict::unchecked(UncheckedReason::CannotResolve));
    for (size_t k = 0; k < toLink.size(); ++k) {
        for (size_t i : sameAs[k])
            verdicts[i] = linked[k];
    }
    return verdicts;
}

NeighbourProof NeighbourEntryProof(
    NeighbourState state, bool hasMac, int64_t confirmedAgoMs, int64_t checkBeganAgoMs)
{
    switch (state) {
    case NeighbourState::Failed:
        return NeighbourProof::Nobody;
    case NeighbourState::NoArp:
        return NeighbourProof::NoArp;
    case NeighbourState::Incomplete:
        return NeighbourProof::Pending;
    case NeighbourState::Permanent:
        return hasMac ? NeighbourProof::Holder : NeighbourProof::Pending;
    case NeighbourState::Reachable:
    case NeighbourState::Stale:
    case NeighbourState::Delay:
    case NeighbourState::Probe:
        break;
    }
    if (!hasMac)
        return NeighbourProof::Pending;
    const bool duringCheck = confirmedAgoMs <= checkBeganAgoMs;
    return duringCheck || confirmedAgoMs < kNeighbourTrustMs ? NeighbourProof::Holder
                                                             : NeighbourProof::LastSeen;
}

std::vector<std::optional<uint32_t>> SkipTaken(uint32_t first, uint32_t last,
    const std::vector<int>& adapters,
    const std::function<AddressVerdict(uint32_t address, int adapter)>& verdictOf)
{
    std::vector<std::optional<uint32_t>> given(adapters.size());
    QSet<uint32_t> used;
    // Per adapter, where its search of the range goes on from: earlier addresses are taken
    // there or given already.
    QHash<int, uint64_t> next;
    for (size_t k = 0; k < adapters.size(); ++k) {
        const int adapter = adapters[k];
        uint64_t a = next.value(adapter, first);
        for (; a <= last; ++a) {
            const uint32_t address = uint32_t(a);
            if (used.contains(address) || verdictOf(address, adapter).state == AddressState::Taken)
                continue;
            given[k] = address;
            used.insert(address);
            ++a;
            break;
        }
        next.insert(adapter, a);
    }
    return given;
}

QStringList ManyAddressHolders(const std::vector<AddressVerdict>& verdicts)
{
    QStringList order;
    QHash<QString, int> count;
    for (const AddressVerdict& v : verdicts) {
        if (v.state != AddressState::Taken || v.holder != HolderKind::Host)
            continue;
        if (!count.contains(v.mac))
            order << v.mac;
        ++count[v.mac];
    }
    QStringList many;
    for (const QString& mac : order) {
        if (count.value(mac) > kManyAddressesHolder)
            many << mac;
    }
    return many;
}

QString MacText(const unsigned char* bytes, int length)
{
    QStringList parts;
    for (int i = 0; i < length; ++i)
        parts << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0'));
    return parts.join(QLatin1Char(':'));
}

AddressCheckThread::AddressCheckThread(
    AddressCheckInput input, std::unique_ptr<LinkProbe> link, QObject* parent)
    : QThread(parent)
    , m_input(std::move(input))
    , m_link(std::move(link))
{
}

AddressCheckThread::~AddressCheckThread()
{
    m_cancel = true;
    wait();
}

void AddressCheckThread::run()
{
    m_verdicts = CheckAddresses(m_input, m_link.get(), m_cancel);
}
