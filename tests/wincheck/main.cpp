// Built for Windows by the wincheck test and never run: it calls the device link's plain
// code and every helper of the platform header, so that their Winsock branch keeps
// compiling and links against ws2_32.
#include "deviceframe.h"
#include "diagnostics.h"
#include "groupsocket.h"
#include "netcompat.h"
#include "service.h"

#include <cstring>

namespace {
int printReply(int status, const char* head, const char* body)
{
    DiagPrintf("%d %s-%s\n", status, head, body);
    return 0;
}

void idle() { }

// What the announcement listener does with the helpers (its own file needs Qt): a socket
// in the group, a loopback wake socket, and a wait on both.
net::Socket openBound(uint32_t address)
{
    net::Socket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (!net::isValid(s)) {
        DiagPerror("socket");
        return s;
    }
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    net::SockLen length = sizeof(local);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0
        || getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        DiagPrintf("bind failed %d\n", net::lastError());
    return s;
}

void listenOnce()
{
    GroupSocketOptions options;
    options.port = kAnnouncePort;
    options.reuseAddress = false;
    options.receiveBuffer = net::kReceiveBufferBytes;
    net::Socket s = OpenGroupSocket(options);
    if (!net::isValid(s))
        DiagPrintf("cannot open the group socket: %d\n", net::lastError());
    net::Socket wake = openBound(INADDR_LOOPBACK);

    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(kAnnouncePort);
    net::sendTo(wake, SearchProbe, kFrameHeaderSize, to);

    unsigned char slot[kAnnounceSlotSize + 1];
    sockaddr_in from {};
    net::SockLen fromLen = sizeof(from);
    const net::Socket ready = net::waitReadable(s, wake, 5);
    if (net::isValid(ready)) {
        const int n = net::receiveFrom(ready, slot, sizeof(slot), &from, &fromLen);
        if (n < 0 && net::lastError() == net::kMessageTooLong)
            DiagPrintf("too long\n");
        else if (CheckAnnounce(slot, n) == AnnounceOutcome::Accepted)
            DiagPrintf("announcement of %d bytes\n", n);
    }
    net::closeSocket(s);
    net::closeSocket(wake);
}
}

int main()
{
    const unsigned char senderId[kSenderIdSize] = { 0x11, 0x22, 0x33, 0x44, 0x00, 0x00 };
    const int started = ServiceInit(0, senderId, printReply);
    DiagPrintf("ServiceInit %d, interface %u\n", started, ServiceMembershipInterface("127.0.1.1"));
    ServiceSendCmd(0, nullptr);
    ServiceSendCmd(1, "{\"mns\":[]}");

    unsigned char frame[kFrameBufferSize + 1];
    int length = BuildDeviceFrame(frame, 0, senderId, nullptr);
    const char reply[] = "head-{\"sn\":\"A1\"}";
    memcpy(frame + length, reply, sizeof(reply) - 1);
    length += static_cast<int>(sizeof(reply) - 1);
    frame[4] = 0;
    if (CheckRetuenDate(frame, length)) {
        const char* head = nullptr;
        const char* body = nullptr;
        if (ReadReply(frame, length, &head, &body) == ReplyOutcome::Accepted)
            printReply(0, head, body);
    }
    ServiceHandleDatagram(frame, length, 0);

    listenOnce();
    return net::startDetachedThread(&idle) && net::startup() ? 0 : 1;
}
