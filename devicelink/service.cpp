#include "service.h"

#include "deviceframe.h"
#include "diagnostics.h"
#include "groupmembership.h"
#include "netcompat.h"

#include <atomic>

#include <cstdio>
#include <cstring>

namespace {
net::Socket g_commandSocket = net::kInvalidSocket;
unsigned char g_senderId[kSenderIdSize];
ServiceCallback g_callback = nullptr;

// One byte more than the largest datagram kept, so a datagram that fills the frame
// buffer still gets its terminator and a longer one is seen as too long.
unsigned char g_recvBuf[kFrameBufferSize + 1];

// The interface the reply being handled came in on, for the callback to read.
std::atomic<int> g_replyInterface { 0 };

// Never destroyed: a receive thread may still be about when the process ends.
GroupMemberships& memberships()
{
    static GroupMemberships* const kept
        = new GroupMemberships([](net::Socket s) { DiagPrintf("socket_fd=%d\n", static_cast<int>(s)); });
    return *kept;
}
}

int ServiceInit(int reserved, const unsigned char* senderId, ServiceCallback callback)
{
    if (!net::startup())
        return -1;
    if (!callback || !senderId)
        return -1;
    memcpy(g_senderId, senderId, kSenderIdSize);
    const int opened = ServiceOpenSocket(reserved, kReplyPort);
    if (opened < 0)
        return opened;
    g_callback = callback;
    return net::startDetachedThread(&ServiceRecvThread) ? 0 : -1;
}

uint32_t ServiceMembershipInterface(const char* localIp)
{
    in_addr addr {};
    if (!localIp || inet_pton(AF_INET, localIp, &addr) != 1)
        return htonl(INADDR_ANY);
    if ((ntohl(addr.s_addr) >> 24) == 127)
        return htonl(INADDR_ANY);
    return addr.s_addr;
}

int ServiceOpenSocket(int reserved, unsigned short port)
{
    net::Socket s = net::udpSocket();
    if (!net::isValid(s)) {
        DiagPrintf("socket creating is error!\n");
        return -1;
    }
    net::requestReceiveBuffer(s);
    const int reuse = 1;
    if (net::setOption(s, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0) {
        DiagPrintf("setsockopt");
        net::closeSocket(s);
        return -1;
    }
    // Winsock wants a socket bound before it joins a group.
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        DiagPrintf("Bind port %u failed!\n", static_cast<unsigned>(port));
        net::closeSocket(s);
        return -static_cast<int>(port);
    }
    net::hearOwnMembershipsOnly(s);
    net::enablePacketInfo(s);

    char localIp[32] = {};
    ServiceGetLocalIpAddress(reserved, localIp);
    // One membership per adapter; the socket is of no use only when none of them held.
    if (memberships().attach(s, ServiceMembershipInterface(localIp)) == 0) {
        memberships().detach();
        net::closeSocket(s);
        return -1;
    }
    g_commandSocket = s;
    return 0;
}

int ServiceGetLocalIpAddress(int, char* out)
{
    char hostName[260] = {};
    gethostname(hostName, sizeof(hostName));
    const hostent* host = gethostbyname(hostName);
    if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0])
        return -1;
    in_addr addr;
    memcpy(&addr, host->h_addr_list[0], sizeof(addr));
    snprintf(out, 16, "%s", inet_ntoa(addr));
    return 0;
}

void ServiceHandleDatagram(unsigned char* buf, int n, int error, int interfaceIndex)
{
    g_replyInterface.store(interfaceIndex);
    if (n > kFrameBufferSize) {
        // Longer than a frame buffer: report it as Winsock reports a truncated datagram.
        n = -1;
        error = net::kMessageTooLong;
    }
    if (n < 0) {
        DiagPrintf("Recvfrom failed %d!\n", error);
        return;
    }
    const char* head = nullptr;
    const char* body = nullptr;
    switch (ReadReply(buf, n, &head, &body)) {
    case ReplyOutcome::NotAFrame:
        DiagPrintf("There is no data!\n");
        return;
    case ReplyOutcome::Rejected:
        DiagPrintf("CheckRetuenDate is error!\n");
        return;
    case ReplyOutcome::NoSeparator:
        return;
    case ReplyOutcome::Accepted:
        if (g_callback)
            g_callback(0, head, body);
        return;
    }
}

int ServiceReplyInterface()
{
    return g_replyInterface.load();
}

void ServiceSetCallbackForTest(ServiceCallback callback)
{
    g_callback = callback;
}

void ServiceRecvThread()
{
    memset(g_recvBuf, 0, sizeof(g_recvBuf));
    sockaddr_in from {};
    net::SockLen fromLen = sizeof(from);
    for (;;) {
        fromLen = sizeof(from);
        int interfaceIndex = 0;
        const int n = net::receiveWithInterface(
            g_commandSocket, g_recvBuf, sizeof(g_recvBuf), &from, &fromLen, &interfaceIndex);
        ServiceHandleDatagram(g_recvBuf, n, n < 0 ? net::lastError() : 0, interfaceIndex);
    }
}

void ServiceUseAdapters(const std::vector<GroupAdapter>& adapters)
{
    memberships().use(adapters);
}

std::vector<GroupAdapter> ServiceHeldAdapters()
{
    return memberships().held();
}

int ServiceSendCmd(unsigned int command, const char* payload)
{
    return ServiceSendCmdVia(command, payload, GroupAdapter());
}

int ServiceSendCmdVia(unsigned int command, const char* payload, const GroupAdapter& adapter)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(kCommandPort);
    if (inet_pton(AF_INET, kGroupAddress, &to.sin_addr) != 1) {
        DiagPrintf("wrong group address!\n");
        return -1;
    }
    unsigned char frame[kFrameBufferSize];
    const int length = BuildDeviceFrame(frame, command, g_senderId, payload);
    if (length <= 0)
        return length;
    // Where the adapter is gone, nothing goes out rather than the frame by another adapter.
    if (!net::setMulticastInterface(g_commandSocket, adapter.index, adapter.address))
        return -1;
    // A send that failed is not reported as sent: the batch shows only addresses that went out.
    return net::sendTo(g_commandSocket, frame, length, to) == length ? 0 : -1;
}

int ServiceSearch(
    net::Socket probeSocket, const sockaddr_in& probeTo, const std::vector<GroupAdapter>& adapters)
{
    int sent = 0;
    for (const GroupAdapter& adapter : adapters) {
        // The probe, then the discovery request, by each adapter in turn.
        if (net::setMulticastInterface(probeSocket, adapter.index, adapter.address)
            && net::sendTo(probeSocket, SearchProbe, sizeof(SearchProbe), probeTo) == sizeof(SearchProbe))
            ++sent;
        if (ServiceSendCmdVia(kDiscoveryCommand, nullptr, adapter) == 0)
            ++sent;
    }
    return sent;
}
