// The command channel: one UDP socket on the reply port in the group, a receive thread
// that hands every accepted reply to a callback, and the send of DeviceFrames to the
// devices' command port.
#pragma once

#include "protocol.h"

#include <cstdint>

typedef int (*ServiceCallback)(int status, const char* head, const char* body);

int ServiceInit(int reserved, const unsigned char* senderId, ServiceCallback callback);
int ServiceOpenSocket(int reserved, unsigned short port);
int ServiceGetLocalIpAddress(int reserved, char* out);
void ServiceRecvThread();
// 0 once the frame went out, and for a command above 3 (nothing to send); -1 when nothing
// was sent: commands 1 to 3 without a payload or with one too long, or a failed send.
int ServiceSendCmd(unsigned int command, const char* payload);

// One datagram of n bytes as the receive thread sees it (n < 0: the receive failed with
// error), received into kFrameBufferSize + 1 bytes: n beyond kFrameBufferSize means it did
// not fit and is reported as too long. Prints the diagnostics and calls the callback.
void ServiceHandleDatagram(unsigned char* buf, int n, int error);

// Sets the callback that ServiceHandleDatagram calls, without opening the channel: lets a
// test or fuzz target drive the receive path with no socket and no thread.
void ServiceSetCallbackForTest(ServiceCallback callback);

// The interface address (network order) on which to join the group, given the text that
// ServiceGetLocalIpAddress produced: any interface when it is empty, not an address, or a
// loopback address, since joining on loopback would hear this machine only.
uint32_t ServiceMembershipInterface(const char* localIp);
