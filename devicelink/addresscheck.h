// Whether the addresses about to be given to devices are held already, on the link of the
// adapter each device answered on. Both programs ask this before their first set-network
// command; they only decide what to do with the answer.
#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

enum class AddressState { Free, Taken, Unchecked };

// Who holds a taken address.
enum class HolderKind { None, Host, ThisComputer, Device };

// Why an address could not be checked.
enum class UncheckedReason {
    None,
    OffLink, // outside every subnet of the adapter, and no raw access to probe it there
    AdapterGone, // the adapter went away, or went down, before or during the check
    CannotResolve, // the adapter resolves no addresses (loopback, no ARP), or the system failed
    UnknownAdapter, // the system did not say which adapter the device answered on
    ProbeBusy, // another run of the probe helper on the adapter did not end in time
    ProbeFailed, // the probe helper refused the addresses, crashed or did not end in time
    HolderLastSeen, // the system's table names a holder, but last heard from it long ago
};

struct AddressVerdict {
    AddressState state = AddressState::Unchecked;
    HolderKind holder = HolderKind::None;
    QString mac; // the holder's, as "7e:9d:2e:47:c5:04", for Host
    QString holderSerial; // for Device; empty for a device that names no serial number
    UncheckedReason reason = UncheckedReason::None;
    int lastSeenMinutes = 0; // for HolderLastSeen: how long ago the system last heard the holder

    static AddressVerdict free()
    {
        return { AddressState::Free, HolderKind::None, {}, {}, UncheckedReason::None };
    }
    static AddressVerdict host(const QString& mac)
    {
        return { AddressState::Taken, HolderKind::Host, mac, {}, UncheckedReason::None };
    }
    static AddressVerdict unchecked(UncheckedReason why)
    {
        return { AddressState::Unchecked, HolderKind::None, {}, {}, why };
    }
    static AddressVerdict lastSeen(const QString& mac, int minutes)
    {
        return { AddressState::Unchecked, HolderKind::None, mac, {}, UncheckedReason::HolderLastSeen,
            minutes };
    }
};

// One address to check, on the adapter (interface index) of the device that gets it.
struct AddressQuery {
    uint32_t address = 0;
    int adapter = 0; // 0: not known
};

// A device as the search heard it: the address it answers from, and on which adapter.
struct HeardAddress {
    QString serial; // empty when it named none
    uint32_t address = 0;
    int adapter = 0;
};

inline bool operator==(const HeardAddress& a, const HeardAddress& b)
{
    return a.serial == b.serial && a.address == b.address && a.adapter == b.adapter;
}

struct AddressCheckInput {
    std::vector<AddressQuery> queries;
    QList<HeardAddress> heard; // every answer of the search
    // The devices of the batch as the search heard them: the addresses they leave are free.
    // A serial number alone is not enough, since any answer can name any serial number.
    QList<HeardAddress> moving;
    QSet<uint32_t> own; // this computer's addresses
};

// What the link says: the system's methods, or a stand-in in tests.
class LinkProbe {
public:
    virtual ~LinkProbe() = default;
    // One verdict per query, in order: free, taken by a host (with its MAC) or unchecked.
    // Returns within the method's bound, and soon after cancel becomes true (what is not
    // known by then is unchecked).
    virtual std::vector<AddressVerdict> probe(
        const std::vector<AddressQuery>& queries, const std::atomic<bool>& cancel)
        = 0;
    // What this method knows of a query without a probe (the adapter's state; an address
    // it cannot reach). None: it must probe.
    virtual std::optional<AddressVerdict> atOnce(const AddressQuery& query) const;
};

// The method this process may use now: on Linux raw ARP probes where it may open a packet
// socket (root, or CAP_NET_RAW), else by the probe helper devicesearch-probe where it is
// installed (beside the program, or in ../libexec/devicesearch) with CAP_NET_RAW, else the
// system's neighbour resolution for addresses on the adapter's subnets; on Windows that
// resolution.
std::unique_ptr<LinkProbe> SystemLinkProbe();

// Each method alone, whatever this process may do: raw probes (Linux; every address
// unchecked where no packet socket can be opened) and the neighbour resolution.
std::unique_ptr<LinkProbe> RawArpLinkProbe();
std::unique_ptr<LinkProbe> NeighbourLinkProbe();
// Raw probes by the helper program at path (Linux), for a process that may not send them;
// where the helper may not either, the neighbour resolution.
std::unique_ptr<LinkProbe> HelperArpLinkProbe(const QString& path);

// What an entry of the system's neighbour table proves, by its state and how long ago the
// system last confirmed that the holder answers. An entry is easy to plant (one ARP request
// that names the address as its sender) and outlives its holder by hours, so only a recent
// confirmation makes a holder.
enum class NeighbourProof {
    Pending, // being resolved: ask again
    Holder, // confirmed during the check or within kNeighbourTrustMs, or set by hand
    LastSeen, // an older entry: unchecked, unless confirmed before the check ends
    Nobody, // resolution failed: nobody answered
    NoArp, // the adapter resolves no addresses
};
constexpr int kNeighbourTrustMs = 60000;

// An entry's state, as Linux names them (NUD_*).
enum class NeighbourState { Incomplete, Reachable, Stale, Delay, Probe, Failed, NoArp, Permanent };

// What an entry proves, by its state, whether it names a link-layer address, how long ago
// the system last confirmed it and how long ago the check began.
NeighbourProof NeighbourEntryProof(
    NeighbourState state, bool hasMac, int64_t confirmedAgoMs, int64_t checkBeganAgoMs);

// Every IPv4 address of this computer, on any adapter.
QSet<uint32_t> ThisComputerAddresses();

// The verdict that needs no look at the link: one of this computer's addresses; an address
// a device of the search answers from on the same adapter (free only when every answer heard
// there is one of `moving`). None: ask the link.
std::optional<AddressVerdict> JudgeWithoutLink(const AddressQuery& query, const AddressCheckInput& input);

// What the adapter alone says, as the system lists it now: unchecked when it is gone or
// down, or resolves no addresses (loopback, no link-layer address). None: ask the link.
std::optional<AddressVerdict> AdapterVerdict(int adapter);

// JudgeWithoutLink, then what the link's method (AdapterVerdict without one) knows at once.
std::optional<AddressVerdict> JudgeWithoutProbe(
    const AddressQuery& query, const AddressCheckInput& input, const LinkProbe* link = nullptr);

// Every query's verdict when each is known without a probe, so that a caller can decide at
// once; none when the link must be asked.
std::optional<std::vector<AddressVerdict>> VerdictsAtOnce(
    const AddressCheckInput& input, const LinkProbe* link);

// Every query's verdict, in order: JudgeWithoutLink, then the link for the rest, at once;
// without a link, JudgeWithoutProbe and unchecked for the rest.
std::vector<AddressVerdict> CheckAddresses(
    const AddressCheckInput& input, LinkProbe* link, const std::atomic<bool>& cancel);

// The k-th device gets the k-th address of [first, last] that is not taken on its adapter
// and not given to an earlier device; an unchecked address counts as usable. verdictOf gives
// the verdict of an address on an adapter. None where the range ran short.
std::vector<std::optional<uint32_t>> SkipTaken(uint32_t first, uint32_t last,
    const std::vector<int>& adapters,
    const std::function<AddressVerdict(uint32_t address, int adapter)>& verdictOf);

// A host that holds more than this many of the checked addresses is reported as one holder
// answering for many: most likely a router answering for others (proxy ARP).
constexpr int kManyAddressesHolder = 4;

// The MACs that hold more than kManyAddressesHolder of the verdicts, in the order first seen.
QStringList ManyAddressHolders(const std::vector<AddressVerdict>& verdicts);

// A MAC as the check reports it: six bytes in lower-case hex, separated by colons.
QString MacText(const unsigned char* bytes, int length);

// The check on a thread of its own, so that a window or an event loop goes on meanwhile;
// finished() when the verdicts are there. Destroying it cancels and waits.
class AddressCheckThread : public QThread {
    Q_OBJECT
public:
    AddressCheckThread(AddressCheckInput input, std::unique_ptr<LinkProbe> link, QObject* parent = nullptr);
    ~AddressCheckThread() override;
    void cancel() { m_cancel = true; }
    // Valid once finished() came: one per query, in order.
    const std::vector<AddressVerdict>& verdicts() const { return m_verdicts; }
    const AddressCheckInput& input() const { return m_input; }

protected:
    void run() override;

private:
    AddressCheckInput m_input;
    std::unique_ptr<LinkProbe> m_link;
    std::atomic<bool> m_cancel { false };
    std::vector<AddressVerdict> m_verdicts;
};
