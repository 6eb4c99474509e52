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
// The most addresses one call probes on one adapter: a /22.
constexpr size_t kMaxArpTargets = 1024;

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

// Probes every target kArpProbeRounds times kArpProbeGapMs apart and listens kArpListenMs
// more, on all links at once; returns early on cancel (what is not known then counts as
// Failed). A holder found on a link that went away is still reported.
std::vector<ArpLinkResult> ProbeWithArp(const std::vector<ArpLink>& links, const std::atomic<bool>& cancel);

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
