#include "service.h"

#include "deviceframe.h"
#include "diagnostics.h"
#include "netcompat.h"

#include <cstdio>
#include <cstring>

namespace {
net::Socket g_commandSocket = net::kInvalidSocket;
unsigned char g_senderId[kSenderIdSize];
ServiceCallback g_callback = nullptr;

// One byte more than the largest datagram kept, so a datagram that fills the frame
// buffer still gets its terminator and a longer one is seen as too long.
unsigned char g_recvBuf[kFrameBufferSize + 1];
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
    net::Socket s = socket(AF_INET, SOCK_DGRAM, 0);
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
    char localIp[32] = {};
    ServiceGetLocalIpAddress(reserved, localIp);

    ip_mreq membership {};
    membership.imr_multiaddr.s_addr = inet_addr(kGroupAddress);
    membership.imr_interface.s_addr = ServiceMembershipInterface(localIp);
    if (net::setOption(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0) {
        DiagPrintf("socket_fd=%d\n", static_cast<int>(s));
        net::closeSocket(s);
        return -1;
    }

    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        DiagPrintf("Bind port %u failed!\n", static_cast<unsigned>(port));
        net::closeSocket(s);
        return -static_cast<int>(port);
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

void ServiceHandleDatagram(unsigned char* buf, int n, int error)
{
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
        const int n = net::receiveFrom(g_commandSocket, g_recvBuf, sizeof(g_recvBuf), &from, &fromLen);
        ServiceHandleDatagram(g_recvBuf, n, n < 0 ? net::lastError() : 0);
    }
}

int ServiceSendCmd(unsigned int command, const char* payload)
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
    // A send that failed is not reported as sent: the batch shows only addresses that went out.
    return net::sendTo(g_commandSocket, frame, length, to) == length ? 0 : -1;
}
