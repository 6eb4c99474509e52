// Simulated devices for the multicast protocol: they answer discovery requests and
// announcement queries, take new network settings, and report every datagram they
// receive as one JSON line on stdout. Run it only inside the private network namespace
// (tests/netns/isolated): it joins the group and sends to it, and refuses to start
// where it sees any other interface.

#include "deviceframe.h"
#include "groupsocket.h"
#include "options.h"
#include "protocol.h"
#include "simdevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;
// SIGUSR1 and SIGUSR2: the devices fall silent and speak again, as if unplugged.
volatile sig_atomic_t g_silent = 0;

void onSignal(int)
{
    g_stop = 1;
}

void onSilence(int signal)
{
    g_silent = signal == SIGUSR1;
}

// -1 with errno set when it cannot be opened.
int openListener(unsigned short port)
{
    GroupSocketOptions options;
    options.port = port;
    // A batch of a thousand commands arrives back to back, and every simulated device
    // shares this one socket; the request is capped by net.core.rmem_max.
    options.receiveBuffer = 8 << 20;
    return OpenGroupSocket(options);
}

// Loopback and the veth pairs of tests/netns/isolated are the only interfaces there;
// anything else means a real network that the simulator must stay off.
std::string foreignInterfaces()
{
    struct if_nameindex* names = if_nameindex();
    if (!names)
        return "(cannot list the interfaces)";
    std::string foreign;
    for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
        const std::string name = n->if_name;
        if (name != "lo" && name != "veth0" && name != "veth1" && name != "veth2" && name != "veth3")
            foreign += (foreign.empty() ? "" : ", ") + name;
    }
    if_freenameindex(names);
    return foreign;
}

void printLine(const std::string& line)
{
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

// The clock other processes on the machine read too, so a reader can time from the first send.
long long monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

using Frames = std::vector<std::vector<unsigned char>>;

// A run of sends at rate per second that began at start: how many of them are due by now,
// and when the next one is due once sent of them have gone.
long long dueCount(Clock::time_point start, Clock::time_point now, double rate)
{
    return static_cast<long long>(std::chrono::duration<double>(now - start).count() * rate);
}

Clock::time_point dueTime(Clock::time_point start, long long sent, double rate)
{
    const auto offset = std::chrono::duration<double>(static_cast<double>(sent + 1) / rate);
    return start + std::chrono::duration_cast<Clock::duration>(offset);
}

class Simulator {
public:
    Simulator(const DevsimOptions& options, int commandSocket, int probeSocket, int sendSocket)
        : m_options(options)
        , m_devices(MakeDevices(options))
        , m_commandSocket(commandSocket)
        , m_probeSocket(probeSocket)
        , m_sendSocket(sendSocket)
        , m_burstFrames(NumberedReplies(options, options.burst))
        , m_pacedFrames(NumberedReplies(options, PacedTotal(options)))
        , m_replyTo(GroupDestination(kReplyPort))
    {
    }

    void run(const sigset_t& waitMask);

private:
    void send(const Datagram& datagram);
    void answer(std::vector<Datagram> valid);
    void receive(int socket, unsigned short port);
    void handle(unsigned short port, const unsigned char* buf, int n);
    void flood(Clock::time_point now);
    void sendReplies(const Frames& frames, size_t from, size_t to);
    void pace(Clock::time_point now);

    DevsimOptions m_options;
    std::vector<SimDevice> m_devices;
    int m_commandSocket;
    int m_probeSocket;
    int m_sendSocket;
    std::mt19937 m_random { std::random_device {}() };
    std::multimap<Clock::time_point, Datagram> m_pending;
    Clock::time_point m_floodStart;
    long long m_floodSent = 0;
    Frames m_burstFrames;
    Frames m_pacedFrames;
    bool m_pacing = false;
    Clock::time_point m_pacedStart;
    size_t m_pacedSent = 0;
    long long m_pacedFirstNs = 0;
    sockaddr_in m_replyTo;
    unsigned char m_recvBuf[65536];
};

// Prebuilt replies straight to the socket: nothing between two sends but the send itself.
void Simulator::sendReplies(const Frames& frames, size_t from, size_t to)
{
    if (g_silent)
        return;
    for (size_t i = from; i < to; ++i) {
        const ssize_t sent = sendto(m_sendSocket, frames[i].data(), frames[i].size(), 0,
            reinterpret_cast<const sockaddr*>(&m_replyTo), sizeof(m_replyTo));
        if (sent < 0 && m_options.verbose)
            fprintf(stderr, "devsim: send of reply %zu failed: %s\n", i + 1, strerror(errno));
    }
}

void Simulator::pace(Clock::time_point now)
{
    const size_t due = std::min(
        m_pacedFrames.size(), static_cast<size_t>(dueCount(m_pacedStart, now, m_options.pacedRate)));
    if (due <= m_pacedSent)
        return;
    if (m_pacedSent == 0)
        m_pacedFirstNs = monotonicNs();
    sendReplies(m_pacedFrames, m_pacedSent, due);
    m_pacedSent = due;
    m_pacing = m_pacedSent < m_pacedFrames.size();
    if (!m_pacing)
        printLine("{\"sent\":" + std::to_string(m_pacedSent) + ",\"first\":" + std::to_string(m_pacedFirstNs)
            + ",\"last\":" + std::to_string(monotonicNs()) + "}");
}

void Simulator::send(const Datagram& datagram)
{
    if (g_silent)
        return;
    const sockaddr_in to = GroupDestination(datagram.port);
    const ssize_t sent = sendto(m_sendSocket, datagram.bytes.data(), datagram.bytes.size(), 0,
        reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (m_options.verbose) {
        if (sent < 0)
            fprintf(stderr, "devsim: send of %zu bytes to %u failed: %s\n", datagram.bytes.size(),
                static_cast<unsigned>(datagram.port), strerror(errno));
        else
            fprintf(stderr, "devsim: sent %zd bytes to %u\n", sent, static_cast<unsigned>(datagram.port));
    }
}

// Sends one answer burst, mixed with malformed frames under --garbage, each datagram
// delayed on its own under --jitter-ms.
void Simulator::answer(std::vector<Datagram> valid)
{
    std::vector<Datagram> burst;
    if (m_options.garbage && !m_devices.empty()) {
        std::vector<Datagram> junk;
        for (auto& frame : GarbageFrames(m_devices.front(), m_random)) {
            junk.push_back({ kReplyPort, frame });
            junk.push_back({ kAnnouncePort, std::move(frame) });
        }
        for (size_t i = 0; i < std::max(junk.size(), valid.size()); ++i) {
            if (i < junk.size())
                burst.push_back(std::move(junk[i]));
            if (i < valid.size())
                burst.push_back(std::move(valid[i]));
        }
    } else {
        burst = std::move(valid);
    }

    const Clock::time_point now = Clock::now();
    std::uniform_int_distribution<int> delay(0, m_options.jitterMs);
    for (Datagram& datagram : burst) {
        if (m_options.jitterMs > 0)
            m_pending.emplace(now + std::chrono::milliseconds(delay(m_random)), std::move(datagram));
        else
            send(datagram);
    }
}

void Simulator::handle(unsigned short port, const unsigned char* buf, int n)
{
    const unsigned char command = n > kCommandOffset ? buf[kCommandOffset] : 0;
    if (port == kCommandPort && n >= kFrameHeaderSize && buf[0] == kStartByte
        && buf[kMarkerOffset] == kMarker) {
        if (command == kDiscoveryCommand && !m_burstFrames.empty()) {
            const long long first = monotonicNs();
            sendReplies(m_burstFrames, 0, m_burstFrames.size());
            printLine("{\"sent\":" + std::to_string(m_burstFrames.size())
                + ",\"first\":" + std::to_string(first) + ",\"last\":" + std::to_string(monotonicNs()) + "}");
        } else if (command == kDiscoveryCommand && !m_pacedFrames.empty()) {
            if (!m_pacing) {
                m_pacing = true;
                m_pacedStart = Clock::now();
                m_pacedSent = 0;
            }
        } else if (command == kDiscoveryCommand) {
            std::vector<Datagram> replies;
            for (const SimDevice& d : m_devices) {
                if (d.answersDiscovery)
                    replies.push_back({ kReplyPort, BuildReplyFrame(d) });
            }
            answer(std::move(replies));
        } else if (command == kSetNetworkCommand) {
            const SimDevice* d
                = ApplySetNetwork(m_devices, reinterpret_cast<const char*>(buf + kFrameHeaderSize),
                    static_cast<size_t>(n - kFrameHeaderSize));
            if (d && m_options.verbose)
                fprintf(stderr, "devsim: %s is now %s mask %s gw %s\n", d->sn.c_str(), d->ip.c_str(),
                    d->mask.c_str(), d->gw.c_str());
        }
    } else if (port == kProbePort && n == kFrameHeaderSize
        && memcmp(buf, SearchProbe, kFrameHeaderSize) == 0) {
        std::vector<Datagram> announcements;
        for (const SimDevice& d : m_devices)
            announcements.push_back({ kAnnouncePort, BuildAnnounceFrame(d) });
        answer(std::move(announcements));
    }
}

void Simulator::receive(int socket, unsigned short port)
{
    for (;;) {
        sockaddr_in from {};
        socklen_t fromLen = sizeof(from);
        const ssize_t n = recvfrom(
            socket, m_recvBuf, sizeof(m_recvBuf), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0)
            return;
        handle(port, m_recvBuf, static_cast<int>(n));
        printLine(DescribeReceived(port, from, m_recvBuf, static_cast<int>(n)));
    }
}

void Simulator::flood(Clock::time_point now)
{
    const long long due = dueCount(m_floodStart, now, m_options.floodRate);
    // Bounded per turn, so received frames and signals are still seen when sends lag.
    for (int i = 0; m_floodSent < due && i < 1000; ++i, ++m_floodSent) {
        const SimDevice& d = m_devices[static_cast<size_t>(m_floodSent) % m_devices.size()];
        send({ kReplyPort, BuildReplyFrame(d) });
        send({ kAnnouncePort, BuildAnnounceFrame(d) });
    }
}

void Simulator::run(const sigset_t& waitMask)
{
    const Clock::time_point start = Clock::now();
    const bool timed = m_options.duration > 0;
    const Clock::time_point deadline = start
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_options.duration));
    const auto period
        = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_options.announceEvery));
    Clock::time_point nextAnnounce = start + period;
    m_floodStart = start;

    pollfd fds[2] = { { m_commandSocket, POLLIN, 0 }, { m_probeSocket, POLLIN, 0 } };
    while (!g_stop) {
        Clock::time_point now = Clock::now();
        if (timed && now >= deadline)
            break;
        while (!m_pending.empty() && m_pending.begin()->first <= now) {
            send(m_pending.begin()->second);
            m_pending.erase(m_pending.begin());
        }
        if (m_options.floodRate > 0)
            flood(now);
        if (m_pacing)
            pace(now);
        if (m_options.announceEvery > 0 && now >= nextAnnounce) {
            for (const SimDevice& d : m_devices)
                send({ kAnnouncePort, BuildAnnounceFrame(d) });
            nextAnnounce = std::max(nextAnnounce + period, now);
        }

        Clock::time_point wake = Clock::time_point::max();
        if (timed)
            wake = deadline;
        if (!m_pending.empty())
            wake = std::min(wake, m_pending.begin()->first);
        if (m_options.floodRate > 0)
            wake = std::min(wake, dueTime(m_floodStart, m_floodSent, m_options.floodRate));
        if (m_pacing)
            wake = std::min(
                wake, dueTime(m_pacedStart, static_cast<long long>(m_pacedSent), m_options.pacedRate));
        if (m_options.announceEvery > 0)
            wake = std::min(wake, nextAnnounce);
        timespec timeout {};
        timespec* timeoutPtr = nullptr;
        if (wake != Clock::time_point::max()) {
            now = Clock::now();
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::max(wake - now, Clock::duration::zero()));
            timeout.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns.count() % 1000000000);
            timeoutPtr = &timeout;
        }
        // The signals are blocked except inside this wait, so none is lost between the
        // check of g_stop and the wait.
        if (ppoll(fds, 2, timeoutPtr, &waitMask) < 0)
            continue;
        if (fds[0].revents & POLLIN)
            receive(m_commandSocket, kCommandPort);
        if (fds[1].revents & POLLIN)
            receive(m_probeSocket, kProbePort);
    }
}

} // namespace

int main(int argc, char** argv)
{
    DevsimOptions options;
    std::string error;
    if (!ParseDevsimOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "devsim: %s\n%s", error.c_str(), kDevsimUsage);
        return 2;
    }
    if (options.help) {
        fputs(kDevsimUsage, stdout);
        return 0;
    }

    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGUSR1);
    sigaddset(&stopSignals, SIGUSR2);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (const int signal : { SIGTERM, SIGINT, SIGUSR1, SIGUSR2 })
        sigdelset(&waitMask, signal);
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = onSilence;
    sigaction(SIGUSR1, &action, nullptr);
    sigaction(SIGUSR2, &action, nullptr);
    // A reader that went away must not kill the simulator in the middle of a test.
    signal(SIGPIPE, SIG_IGN);

    const std::string foreign = foreignInterfaces();
    if (!foreign.empty()) {
        fprintf(stderr,
            "devsim: refusing to run on a real network (interfaces: %s); start it inside "
            "tests/netns/isolated\n",
            foreign.c_str());
        return 1;
    }

    const int commandSocket = openListener(kCommandPort);
    if (commandSocket < 0) {
        perror("devsim: cannot listen on the command port");
        return 1;
    }
    const int probeSocket = openListener(kProbePort);
    if (probeSocket < 0) {
        perror("devsim: cannot listen on the probe port");
        return 1;
    }
    const int sendSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (sendSocket < 0) {
        perror("devsim: socket");
        return 1;
    }

    Simulator simulator(options, commandSocket, probeSocket, sendSocket);
    if (options.verbose) {
        for (const SimDevice& d : MakeDevices(options))
            fprintf(stderr, "devsim: %s %s %s %s%s%s%s\n", d.name.c_str(), d.ip.c_str(), d.sn.c_str(),
                d.mode.c_str(), d.hasLibver ? "" : " no-libver", d.answersDiscovery ? "" : " announce-only",
                d.takesSettings ? "" : " ignores-set");
    }
    printLine("{\"ready\":true,\"devices\":" + std::to_string(options.count) + "}");
    simulator.run(waitMask);

    close(sendSocket);
    close(probeSocket);
    close(commandSocket);
    return 0;
}
