// Windows' own resolution of the addresses to check: each resolved afresh where the system
// has ResolveIpNetEntry2, else a trigger datagram and the neighbour table.
#ifdef _WIN32
#include "neighbourresolution.h"

#include "netcompat.h"

#include <iphlpapi.h>
#include <netioapi.h>

#include <map>
#include <optional>
#include <set>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kReadEveryMs = 100;

using ResolveEntry = DWORD(WINAPI*)(PMIB_IPNET_ROW2, const SOCKADDR_INET*);

// Looked up when first needed: Wine has no such export, and a program that imported it
// would not start there.
ResolveEntry systemResolve()
{
    static const ResolveEntry resolve = [] {
        const HMODULE dll = GetModuleHandleW(L"iphlpapi.dll"); // linked, so loaded already
        return dll ? reinterpret_cast<ResolveEntry>(
                   reinterpret_cast<void*>(GetProcAddress(dll, "ResolveIpNetEntry2")))
                   : nullptr;
    }();
    return resolve;
}

// Set once the call said it cannot (a stub): later batches go straight to the trigger.
std::atomic<bool> g_resolveRefused { false };

bool nonzero(const unsigned char* mac)
{
    for (int b = 0; b < 6; ++b) {
        if (mac[b] != 0)
            return true;
    }
    return false;
}

AddressVerdict resolveAfresh(ResolveEntry resolve, const AddressQuery& query)
{
    MIB_IPNET_ROW2 row {};
    row.InterfaceIndex = NET_IFINDEX(query.adapter);
    row.Address.Ipv4.sin_family = AF_INET;
    row.Address.Ipv4.sin_addr.s_addr = htonl(query.address);
    // The system drops its entry for the address on the adapter and asks the link again.
    const DWORD result = resolve(&row, nullptr);
    if (result == ERROR_BAD_NET_NAME)
        return AddressVerdict::free(); // asked, and nobody answered
    if (result == ERROR_NOT_SUPPORTED || result == ERROR_CALL_NOT_IMPLEMENTED)
        g_resolveRefused = true;
    if (result == NO_ERROR && row.PhysicalAddressLength == 6 && nonzero(row.PhysicalAddress))
        return AddressVerdict::host(MacText(row.PhysicalAddress, 6));
    return AddressVerdict::unchecked(UncheckedReason::CannotResolve);
}

// Whether each adapter is gone or down now, each read once.
class GoneMemo {
public:
    bool operator()(int adapter)
    {
        auto found = m_gone.find(adapter);
        if (found == m_gone.end()) {
            const std::optional<AddressVerdict> v = AdapterVerdict(adapter);
            found = m_gone.emplace(adapter, v && v->reason == UncheckedReason::AdapterGone).first;
        }
        return found->second;
    }

private:
    std::map<int, bool> m_gone;
};

// What an entry of the system's table shows.
enum class Seen { Held, Resolving, Failed, Unclear };
struct Entry {
    Seen seen = Seen::Unclear;
    unsigned char mac[6] {};
};
using Table = std::map<std::pair<int, uint32_t>, Entry>; // (adapter, address)

std::optional<Table> readTable()
{
    PMIB_IPNET_TABLE2 rows = nullptr;
    // AF_INET alone: some systems fail the whole call on their IPv6 half.
    if (GetIpNetTable2(AF_INET, &rows) != NO_ERROR || !rows)
        return std::nullopt;
    Table table;
    for (ULONG i = 0; i < rows->NumEntries; ++i) {
        const MIB_IPNET_ROW2& r = rows->Table[i];
        if (r.Address.si_family != AF_INET)
            continue;
        Entry e;
        const bool hasMac = r.PhysicalAddressLength == 6 && nonzero(r.PhysicalAddress);
        if (hasMac)
            std::memcpy(e.mac, r.PhysicalAddress, 6);
        // Wine lists an entry being resolved and one that failed alike, as stale and unreachable
        // without a MAC (from /proc/net/arp, where neither has a flag): Unclear.
        e.seen = r.State == NlnsUnreachable                                                  ? Seen::Failed
            : r.State == NlnsIncomplete                                                      ? Seen::Resolving
            : r.State >= NlnsProbe && r.State <= NlnsPermanent && hasMac && !r.IsUnreachable ? Seen::Held
                                                                                             : Seen::Unclear;
        table[{ int(r.InterfaceIndex), ntohl(r.Address.Ipv4.sin_addr.s_addr) }] = e;
    }
    FreeMibTable(rows);
    return table;
}

const Entry* find(const std::optional<Table>& table, const AddressQuery& q)
{
    if (!table)
        return nullptr;
    const auto found = table->find({ q.adapter, q.address });
    return found == table->end() ? nullptr : &found->second;
}
}

bool ResolveAfreshOnWindows(const std::vector<AddressQuery>& queries, const std::atomic<bool>& cancel,
    std::vector<AddressVerdict>* verdicts)
{
    const ResolveEntry resolve = systemResolve();
    if (!resolve || g_resolveRefused)
        return false;
    std::vector<AddressVerdict> said = ResolveEachAtOnce(
        queries, [resolve](const AddressQuery& q) { return resolveAfresh(resolve, q); },
        std::chrono::milliseconds(kResolveMs), cancel);
    if (g_resolveRefused)
        return false;
    // The adapter may have gone meanwhile: nobody's answer then means nothing.
    GoneMemo gone;
    for (size_t i = 0; i < said.size(); ++i) {
        if (said[i].state != AddressState::Taken && gone(queries[i].adapter))
            said[i] = AddressVerdict::unchecked(UncheckedReason::AdapterGone);
    }
    *verdicts = std::move(said);
    return true;
}

std::vector<AddressVerdict> ResolveByTriggerOnWindows(const std::vector<AddressQuery>& queries,
    const std::function<bool(const AddressQuery&)>& trigger, const std::atomic<bool>& cancel)
{
    std::vector<AddressVerdict> verdicts(queries.size());
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kResolveMs);
    // Windows keeps a failed entry for a while, and no page says that a datagram makes it
    // resolve the address again: a failure proves nobody answered only when it came after
    // the trigger, for an entry not there before it or seen being resolved since.
    const std::optional<Table> before = readTable();
    std::set<size_t> afresh;
    std::vector<size_t> waiting;
    GoneMemo goneAtFirst;
    for (size_t i = 0; i < queries.size(); ++i) {
        if (before && !find(before, queries[i]))
            afresh.insert(i);
        if (!trigger(queries[i]) && goneAtFirst(queries[i].adapter))
            verdicts[i] = AddressVerdict::unchecked(UncheckedReason::AdapterGone);
        else
            waiting.push_back(i);
    }
    while (!waiting.empty() && !cancel && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kReadEveryMs));
        const std::optional<Table> now = readTable();
        std::vector<size_t> still;
        for (size_t i : waiting) {
            const Entry* e = find(now, queries[i]);
            if (e && e->seen == Seen::Resolving)
                afresh.insert(i);
            if (e && e->seen == Seen::Held)
                verdicts[i] = AddressVerdict::host(MacText(e->mac, 6));
            else if (e && e->seen == Seen::Failed && afresh.count(i))
                verdicts[i] = AddressVerdict::free();
            else
                still.push_back(i);
        }
        waiting.swap(still);
    }
    // Still being resolved, failed only before the trigger, or unclear: the table does not tell.
    GoneMemo gone;
    for (size_t i : waiting)
        verdicts[i] = AddressVerdict::unchecked(
            gone(queries[i].adapter) ? UncheckedReason::AdapterGone : UncheckedReason::CannotResolve);
    return verdicts;
}
#endif
