// The command channel: one UDP socket on the reply port in the group, a receive thread
// that hands every accepted reply to a callback, and the send of DeviceFrames to the
// devices' command port.
#pragma once

#include "groupmembership.h"
#include "netcompat.h"
#include "protocol.h"

#include <cstdint>
#include <vector>

typedef int (*ServiceCallback)(int status, const char* head, const char* body);

int ServiceInit(int reserved, const unsigned char* senderId, ServiceCallback callback);
int ServiceOpenSocket(int reserved, unsigned short port);
int ServiceGetLocalIpAddress(int reserved, char* out);
void ServiceRecvThread();
// 0 once the frame went out, and for a command above 3 (nothing to send); -1 when nothing
// was sent: commands 1 to 3 without a payload or with one too long, or a failed send.
int ServiceSendCmd(unsigned int command, const char* payload);
// The same by one adapter (index 0: where the routing table sends it); -1 also when that
// adapter cannot be chosen, as when it has gone.
int ServiceSendCmdVia(unsigned int command, const char* payload, const GroupAdapter& adapter);

// The adapters the command socket is a member on from now on: the ones ServiceOpenSocket
// joins, and, once it is open, joined and dropped at once. Until told, the one adapter the
// system chooses.
void ServiceUseAdapters(const std::vector<GroupAdapter>& adapters);
std::vector<GroupAdapter> ServiceHeldAdapters();

// A search: the announcement query on probeSocket to probeTo, then the discovery request,
// by each adapter in turn. Returns how many of the datagrams went out.
int ServiceSearch(
    net::Socket probeSocket, const sockaddr_in& probeTo, const std::vector<GroupAdapter>& adapters);

// During the callback: the index of the interface the reply came in on (0: not known).
int ServiceReplyInterface();

// One datagram of n bytes as the receive thread sees it (n < 0: the receive failed with
// error), received into kFrameBufferSize + 1 bytes: n beyond kFrameBufferSize means it did
// not fit and is reported as too long. Prints the diagnostics and calls the callback;
// interfaceIndex is what ServiceReplyInterface tells it.
void ServiceHandleDatagram(unsigned char* buf, int n, int error, int interfaceIndex = 0);

// Sets the callback that ServiceHandleDatagram calls, without opening the channel: lets a
// test or fuzz target drive the receive path with no socket and no thread.
void ServiceSetCallbackForTest(ServiceCallback callback);

// The interface address (network order) on which to join the group, given the text that
// ServiceGetLocalIpAddress produced: any interface when it is empty, not an address, or a
// loopback address, since joining on loopback would hear this machine only.
uint32_t ServiceMembershipInterface(const char* localIp);
