// ARP probes written onto a link from a packet socket (Linux, with CAP_NET_RAW): who
// answers for an address, on or off the adapter's subnets. No Qt, so that the small
// helper that alone holds the capability links nothing else.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

using MacAddress = std::array<unsigned char, 6>;

constexpr size_t kArpPacketBytes = 28;
constexpr int kArpProbeRounds = 3;
constexpr int kArpProbeGapMs = 200;
// After the last round; about what hosts take to answer, with room for a busy one.
constexpr int kArpListenMs = 1000;
// The most addresses one call probes on one adapter: a /22. Callers split larger sets.
constexpr size_t kMaxArpTargets = 1024;
// The most probes a second on one adapter: a check must not become a broadcast storm.
constexpr int kMaxArpProbesPerSecond = 1000;
// How long a run waits for another run on the same adapter to end before it gives up:
// about four runs of kMaxArpTargets.
constexpr int kProbeLockWaitMs = 20000;

// A probe for target: a broadcast request whose sender address is 0.0.0.0, so that no
// host's table learns anything from it and no address of that subnet is needed here.
std::array<unsigned char, kArpPacketBytes> ArpProbePacket(const MacAddress& own, uint32_t target);

// Who an ARP packet says holds an address: a request or a reply for IPv4 over Ethernet
// whose sender is not this adapter and whose sender address is not 0.0.0.0 (another
// host's probe holds nothing).
struct ArpSender {
    uint32_t address = 0; // host order
    MacAddress mac {};
};
std::optional<ArpSender> ArpHolder(const unsigned char* data, size_t size, const MacAddress& own);

// One adapter's probes.
struct ArpLink {
    int index = 0;
    MacAddress own {};
    std::vector<uint32_t> targets; // host order
    int socket = -1; // opened by OpenArpSocket already; else ProbeWithArp opens it
};

// A packet socket for ARP bound to the adapter; -1 with errno set when it cannot be had.
int OpenArpSocket(int index);

enum class ArpEnd { Done, AdapterGone, Failed };

struct ArpLinkResult {
    ArpEnd end = ArpEnd::Failed;
    std::vector<std::optional<MacAddress>> holders; // per target; none: nobody answered
};

// Probes every target kArpProbeRounds times, each round kArpProbeGapMs after the last one
// began or when it ended, at most kMaxArpProbesPerSecond per link, and listens kArpListenMs
// after the last probe, on all links at once; returns early on cancel (what is not known then counts as
// Failed). A holder found on a link that went away is still reported.
std::vector<ArpLinkResult> ProbeWithArp(const std::vector<ArpLink>& links, const std::atomic<bool>& cancel);

// The one probing run on an adapter on this machine: an abstract local socket named after
// the interface index, which only one process can bind. Abstract names live in the network
// namespace, as interface indices do, and no file stands at them that another user could
// link, fill or hold open; the kernel frees the name when its holder ends, however it ends.
// Waits up to waitMs for the holder to end (less on cancel): the descriptor to close when
// done, or -1 with errno EBUSY when another run kept it, or the system's error.
int TakeProbeLock(int index, int waitMs, const std::atomic<bool>& cancel);
void ReleaseProbeLock(int lock);

// Whether this process may open a packet socket now.
bool MayProbeWithArp();

// The command line of the probe helper, the one program that may hold CAP_NET_RAW:
// `devicesearch-probe INDEX ADDRESS...`. Takes an interface index (a decimal number the
// system knows is for the caller to check) and 1 to kMaxArpTargets distinct unicast
// IPv4 addresses in dotted decimal; anything else is refused with the reason.
struct ProbeArguments {
    int index = 0;
    std::vector<uint32_t> targets;
};
bool ParseProbeArguments(int argc, const char* const* argv, ProbeArguments* out, const char** why);

// The adapter's Ethernet address, when it is an Ethernet adapter that is up.
bool EthernetAdapter(int index, MacAddress* mac);
