#include "arpprobe.h"

#include <cerrno>
#include <cstring>

#ifdef __linux__
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#endif

namespace {
constexpr unsigned char kBroadcast[6] = { 0xff, 0xff, 0xff, 0xff, 0xff, 0xff };

void put16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}
void put32(unsigned char* p, uint32_t v)
{
    put16(p, static_cast<uint16_t>(v >> 16));
    put16(p + 2, static_cast<uint16_t>(v));
}
uint16_t get16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t get32(const unsigned char* p)
{
    return uint32_t(get16(p)) << 16 | get16(p + 2);
}
}

std::array<unsigned char, kArpPacketBytes> ArpProbePacket(const MacAddress& own, uint32_t target)
{
    std::array<unsigned char, kArpPacketBytes> p {};
    put16(&p[0], 1); // Ethernet
    put16(&p[2], 0x0800); // IPv4
    p[4] = 6;
    p[5] = 4;
    put16(&p[6], 1); // request
    std::memcpy(&p[8], own.data(), 6);
    // sender address 0.0.0.0, target MAC unknown: both stay zero
    put32(&p[24], target);
    return p;
}

std::optional<ArpSender> ArpHolder(const unsigned char* data, size_t size, const MacAddress& own)
{
    if (!data || size < kArpPacketBytes)
        return std::nullopt;
    if (get16(data) != 1 || get16(data + 2) != 0x0800 || data[4] != 6 || data[5] != 4)
        return std::nullopt;
    const uint16_t op = get16(data + 6);
    if (op != 1 && op != 2)
        return std::nullopt;
    ArpSender s;
    std::memcpy(s.mac.data(), data + 8, 6);
    s.address = get32(data + 14);
    if (s.address == 0 || s.mac == own)
        return std::nullopt;
    return s;
}

#ifdef __linux__
namespace {
using Clock = std::chrono::steady_clock;

struct LinkState {
    int fd = -1;
    std::unordered_map<uint32_t, size_t> where; // target to its index
    ArpLinkResult result;
    int round = 0; // the round being sent; kArpProbeRounds once all are out
    size_t next = 0; // the next target of the round
    uint64_t sent = 0;
    Clock::time_point roundAt; // when the round may begin
    Clock::time_point listenUntil;
    bool open() const { return fd >= 0; }
    bool sending() const { return open() && round < kArpProbeRounds; }
};

// A few probes at once, so that a late wake-up does not slow the pace.
constexpr uint64_t kPaceBurst = 8;
}

int OpenArpSocket(int index)
{
    const int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ARP));
    if (fd < 0 || index <= 0)
        return fd;
    sockaddr_ll here {};
    here.sll_family = AF_PACKET;
    here.sll_protocol = htons(ETH_P_ARP);
    here.sll_ifindex = index;
    if (bind(fd, reinterpret_cast<sockaddr*>(&here), sizeof here) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

namespace {
bool adapterGoneError(int error)
{
    return error == ENODEV || error == ENXIO || error == ENETDOWN;
}

void closeLink(LinkState* s, ArpEnd end)
{
    if (s->fd >= 0)
        close(s->fd);
    s->fd = -1;
    s->result.end = end;
}

// Sends what the pace allows now: the probes of the round not answered yet, at most
// kMaxArpProbesPerSecond since begin (with a small burst).
void sendDue(const ArpLink& link, LinkState* s, Clock::time_point begin, Clock::time_point now)
{
    sockaddr_ll to {};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = link.index;
    to.sll_halen = 6;
    std::memcpy(to.sll_addr, kBroadcast, 6);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - begin).count();
    const uint64_t allowed = kPaceBurst + uint64_t(ms) * kMaxArpProbesPerSecond / 1000;
    while (s->sending() && now >= s->roundAt) {
        while (s->next < link.targets.size() && s->result.holders[s->next])
            ++s->next; // answered already
        if (s->next == link.targets.size()) {
            ++s->round;
            s->next = 0;
            s->roundAt = std::max(begin + std::chrono::milliseconds(s->round * kArpProbeGapMs), now);
            s->listenUntil = now + std::chrono::milliseconds(kArpListenMs);
            continue;
        }
        if (s->sent >= allowed)
            return;
        const auto packet = ArpProbePacket(link.own, link.targets[s->next]);
        ++s->next;
        ++s->sent; // a probe lost to a full queue counts too: the next round sends it again
        if (sendto(s->fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0
            && adapterGoneError(errno))
            closeLink(s, ArpEnd::AdapterGone);
    }
}

// When the link next has something to do: its next probe, or the end of its listening.
Clock::time_point nextDue(const LinkState& s, Clock::time_point begin)
{
    if (!s.sending())
        return s.listenUntil;
    const auto paced = begin
        + std::chrono::microseconds(
            int64_t(s.sent + 1 - std::min(s.sent + 1, kPaceBurst)) * 1000000 / kMaxArpProbesPerSecond);
    return std::max(s.roundAt, paced);
}

// Reads what is queued, a bounded number at a time so that a flood cannot hold the loop
// past its deadline.
void readReplies(const ArpLink& link, LinkState* s)
{
    unsigned char buffer[256];
    for (int n = 0; n < 512 && s->open(); ++n) {
        sockaddr_ll from {};
        socklen_t fromLength = sizeof from;
        const ssize_t got
            = recvfrom(s->fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            if (adapterGoneError(errno))
                closeLink(s, ArpEnd::AdapterGone);
            return;
        }
        if (from.sll_pkttype == PACKET_OUTGOING)
            continue; // our own probes, seen on the way out
        const std::optional<ArpSender> holder = ArpHolder(buffer, size_t(got), link.own);
        if (!holder)
            continue;
        const auto found = s->where.find(holder->address);
        if (found != s->where.end() && !s->result.holders[found->second])
            s->result.holders[found->second] = holder->mac; // the first to answer
    }
}
}

std::vector<ArpLinkResult> ProbeWithArp(const std::vector<ArpLink>& links, const std::atomic<bool>& cancel)
{
    std::vector<LinkState> states(links.size());
    const Clock::time_point begin = Clock::now();
    for (size_t k = 0; k < links.size(); ++k) {
        LinkState& s = states[k];
        s.result.holders.resize(links[k].targets.size());
        s.roundAt = s.listenUntil = begin;
        if (links[k].targets.size() > kMaxArpTargets)
            continue; // Failed
        for (size_t i = 0; i < links[k].targets.size(); ++i)
            s.where.emplace(links[k].targets[i], i);
        s.fd = links[k].socket >= 0 ? links[k].socket : OpenArpSocket(links[k].index);
        s.result.end = s.open()       ? ArpEnd::Done
            : adapterGoneError(errno) ? ArpEnd::AdapterGone
                                      : ArpEnd::Failed;
    }
    std::vector<pollfd> polled;
    std::vector<size_t> owner;
    while (!cancel) {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        polled.clear();
        owner.clear();
        for (size_t k = 0; k < states.size(); ++k) {
            LinkState& s = states[k];
            if (s.sending())
                sendDue(links[k], &s, begin, now);
            if (!s.open() || (!s.sending() && now >= s.listenUntil))
                continue;
            next = std::min(next, nextDue(s, begin));
            polled.push_back({ s.fd, POLLIN, 0 });
            owner.push_back(k);
        }
        if (polled.empty())
            break;
        // Short waits, so that a cancel is seen soon.
        const auto wait = std::clamp<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count(), 0, 50);
        if (poll(polled.data(), polled.size(), int(wait)) <= 0)
            continue;
        for (size_t p = 0; p < polled.size(); ++p) {
            if (polled[p].revents & (POLLERR | POLLNVAL | POLLHUP))
                closeLink(&states[owner[p]], ArpEnd::AdapterGone);
            else if (polled[p].revents & POLLIN)
                readReplies(links[owner[p]], &states[owner[p]]);
        }
    }
    std::vector<ArpLinkResult> results;
    for (LinkState& s : states) {
        if (s.open())
            closeLink(&s, cancel ? ArpEnd::Failed : ArpEnd::Done);
        results.push_back(std::move(s.result));
    }
    return results;
}

int TakeProbeLock(int index, int waitMs, const std::atomic<bool>& cancel)
{
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un name {};
    name.sun_family = AF_UNIX;
    // sun_path[0] stays 0: an abstract name
    const int length = snprintf(name.sun_path + 1, sizeof name.sun_path - 1, "devicesearch-probe/%d", index);
    const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(length));
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    // Each waiter tries at its own moments, so that none is always second.
    unsigned jitter = unsigned(getpid());
    while (bind(fd, reinterpret_cast<sockaddr*>(&name), size) != 0) {
        const int error = errno;
        if (error != EADDRINUSE || cancel || Clock::now() >= deadline) {
            close(fd);
            errno = error == EADDRINUSE ? EBUSY : error;
            return -1;
        }
        jitter = jitter * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + (jitter >> 16) % 20));
    }
    return fd;
}

void ReleaseProbeLock(int lock)
{
    if (lock >= 0)
        close(lock);
}

bool MayProbeWithArp()
{
    const int fd = OpenArpSocket(0);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}
bool EthernetAdapter(int index, MacAddress* mac)
{
    char name[IF_NAMESIZE] = {};
    if (index <= 0 || !if_indextoname(unsigned(index), name))
        return false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request {};
    std::memcpy(request.ifr_name, name, sizeof request.ifr_name);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_UP)
        && !(request.ifr_flags & (IFF_LOOPBACK | IFF_NOARP));
    ok = ok && ioctl(fd, SIOCGIFHWADDR, &request) == 0 && request.ifr_hwaddr.sa_family == ARPHRD_ETHER;
    close(fd);
    if (ok)
        std::memcpy(mac->data(), request.ifr_hwaddr.sa_data, 6);
    return ok;
}
#else
bool EthernetAdapter(int, MacAddress*)
{
    return false;
}

int OpenArpSocket(int)
{
    return -1;
}

int TakeProbeLock(int, int, const std::atomic<bool>&)
{
    errno = ENOSYS;
    return -1;
}

void ReleaseProbeLock(int) { }

std::vector<ArpLinkResult> ProbeWithArp(const std::vector<ArpLink>& links, const std::atomic<bool>&)
{
    std::vector<ArpLinkResult> results(links.size());
    for (size_t k = 0; k < links.size(); ++k)
        results[k].holders.resize(links[k].targets.size());
    return results;
}

bool MayProbeWithArp()
{
    return false;
}
#endif

bool ParseProbeArguments(int argc, const char* const* argv, ProbeArguments* out, const char** why)
{
    *out = {};
    if (argc < 3 || !argv) {
        *why = "usage: devicesearch-probe INDEX ADDRESS...";
        return false;
    }
    if (size_t(argc - 2) > kMaxArpTargets) {
        *why = "too many addresses";
        return false;
    }
    const char* index = argv[1];
    long value = 0;
    for (const char* c = index; *c; ++c) {
        if (*c < '0' || *c > '9' || c - index >= 9) {
            *why = "the interface index is not a number";
            return false;
        }
        value = value * 10 + (*c - '0');
    }
    if (value <= 0) {
        *why = "the interface index is not a number";
        return false;
    }
    out->index = int(value);
    for (int i = 2; i < argc; ++i) {
        // Four decimal parts of 1 to 3 digits, nothing else (no octal, no hex, no blanks).
        const char* c = argv[i];
        uint32_t address = 0;
        int parts = 0;
        bool ok = c != nullptr;
        while (ok && parts < 4) {
            int digits = 0;
            uint32_t part = 0;
            while (*c >= '0' && *c <= '9' && digits < 4) {
                part = part * 10 + uint32_t(*c - '0');
                ++c;
                ++digits;
            }
            ok = digits >= 1 && digits <= 3 && part <= 255 && !(digits > 1 && c[-digits] == '0');
            address = address << 8 | part;
            ++parts;
            if (ok && parts < 4)
                ok = *c++ == '.';
        }
        ok = ok && *c == '\0';
        const uint32_t first = address >> 24;
        // Unicast only: not 0/8, loopback, multicast, reserved or the broadcast address.
        if (!ok || first == 0 || first == 127 || first >= 224) {
            *why = "not a unicast IPv4 address";
            out->targets.clear();
            return false;
        }
        for (uint32_t earlier : out->targets) {
            if (earlier == address) {
                *why = "an address given twice";
                out->targets.clear();
                return false;
            }
        }
        out->targets.push_back(address);
    }
    return true;
}
