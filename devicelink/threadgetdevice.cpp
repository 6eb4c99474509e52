#include "threadgetdevice.h"

#include "deviceframe.h"
#include "diagnostics.h"
#include "groupmembership.h"
#include "listenerreports.h"
#include "netcompat.h"
#include "service.h"

#include <QDebug>

#include <atomic>

namespace {
// One byte more than a slot's datagram, so a full 128-byte announcement keeps its
// terminator and a longer one can be told apart and ignored.
unsigned char g_announceRing[kAnnounceRingSlots][kAnnounceSlotSize + 1];
// The interface each slot's announcement came in on.
std::atomic<int> g_announceRingInterface[kAnnounceRingSlots];

// Never destroyed: a receive thread may still be about when the process ends.
GroupMemberships& memberships()
{
    static GroupMemberships* const kept = new GroupMemberships([](net::Socket) { DiagPerror("setsockopt"); });
    return *kept;
}

// The stop request and the loopback port of the wake socket that run() also waits on.
std::atomic<bool> g_stopRequested { false };
std::atomic<unsigned short> g_wakePort { 0 };

net::Socket openWakeSocket()
{
    net::Socket s = net::udpSocket();
    if (!net::isValid(s))
        return s;
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = 0;
    net::SockLen length = sizeof(local);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0
        || getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        net::closeSocket(s);
        return net::kInvalidSocket;
    }
    g_wakePort.store(ntohs(local.sin_port));
    return s;
}

// The announcement socket bound and joined; kInvalidSocket when it cannot be created or
// bound, since an unbound socket fails every wait at once on Winsock and would spin.
net::Socket openAnnounceSocket()
{
    net::Socket s = net::udpSocket();
    if (!net::isValid(s)) {
        DiagPerror("socket");
        return s;
    }
    net::requestReceiveBuffer(s);

    char localIp[16] = {};
    if (ServiceGetLocalIpAddress(0, localIp) == 0)
        DiagPrintf("ip = %s\n", localIp);
    else
        DiagPrintf("ServiceGetLocalIpAddress is error!\n");

    // Winsock wants a socket bound before it joins a group.
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(kAnnouncePort);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        qDebug() << "sendto is error, errno=" << net::lastError();
        net::closeSocket(s);
        return net::kInvalidSocket;
    }
    net::hearOwnMembershipsOnly(s);
    net::enablePacketInfo(s);
    // A failed membership is reported and the socket still receives what reaches it.
    memberships().attach(s, htonl(INADDR_ANY));
    return s;
}
}

void ListenerUseAdapters(const std::vector<GroupAdapter>& adapters)
{
    memberships().use(adapters);
}

std::vector<GroupAdapter> ListenerHeldAdapters()
{
    return memberships().held();
}

int AnnounceInterfaceOf(const char* payload)
{
    for (int i = 0; i < kAnnounceRingSlots; ++i) {
        const unsigned char* slot = g_announceRing[i];
        if (reinterpret_cast<const unsigned char*>(payload) == slot + kFrameHeaderSize)
            return g_announceRingInterface[i].load();
    }
    return 0;
}

ThreadGetDevice::ThreadGetDevice()
    : QThread(nullptr)
{
    g_stopRequested.store(false);
}

ThreadGetDevice::~ThreadGetDevice() = default;

void ThreadGetDevice::requestStop()
{
    g_stopRequested.store(true);
    const unsigned short port = g_wakePort.load();
    if (port == 0)
        return; // run() has not published its wake socket yet and tests the request first
    net::Socket s = net::udpSocket();
    if (!net::isValid(s))
        return;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    const unsigned char wake = 0;
    net::sendTo(s, &wake, 1, to);
    net::closeSocket(s);
}

void ThreadGetDevice::run()
{
    if (!net::startup())
        return;
    net::Socket s = openAnnounceSocket();
    net::Socket wake = openWakeSocket();
    // Without a socket there is nothing to hear; end rather than spin on failing waits.
    if (!net::isValid(s)) {
        if (net::isValid(wake))
            net::closeSocket(wake);
        g_wakePort.store(0);
        emit ListenerReports::instance()->cannotListen();
        return;
    }

    sockaddr_in from {};
    net::SockLen fromLen = sizeof(from);
    unsigned char index = 0;
    while (!g_stopRequested.load()) {
        const net::Socket ready = net::waitReadable(s, wake, 5);
        if (net::isValid(wake) && ready == wake) {
            unsigned char drain[16];
            net::receiveFrom(wake, drain, sizeof(drain), &from, &fromLen);
            continue;
        }
        if (ready != s)
            continue; // time-out or error: test the stop request and wait again
        unsigned char* slot = g_announceRing[index];
        fromLen = sizeof(from);
        int interfaceIndex = 0;
        const int n
            = net::receiveWithInterface(s, slot, kAnnounceSlotSize + 1, &from, &fromLen, &interfaceIndex);
        switch (CheckAnnounce(slot, n)) {
        case AnnounceOutcome::Ignored:
            continue;
        case AnnounceOutcome::Rejected:
            DiagPrintf("Buff is error!\n");
            DiagPrintf("CheckRetuenDate is error!\n");
            continue;
        case AnnounceOutcome::Accepted:
            slot[n] = 0;
            g_announceRingInterface[index].store(interfaceIndex);
            emit sig_getdevice(reinterpret_cast<char*>(slot + kFrameHeaderSize), 0,
                static_cast<unsigned int>(n - kFrameHeaderSize));
            index = static_cast<unsigned char>((index + 1) % kAnnounceRingSlots);
            break;
        }
    }
    g_wakePort.store(0);
    memberships().detach();
    net::closeSocket(s);
    if (net::isValid(wake))
        net::closeSocket(wake);
}
