// The two datagram layouts spoken with the devices and their acceptance tests.
// Pure functions on byte buffers: no sockets, no allocation.
#pragma once

#include "protocol.h"

#include <cstddef>

// DeviceFrames are built and received in buffers of this size.
constexpr int kFrameBufferSize = 1400;
// The payload and its NUL must fit after the header.
constexpr int kMaxFramePayload = kFrameBufferSize - kFrameHeaderSize - 1;
constexpr int kMinReplySize = 16;

constexpr int kAnnounceSlotSize = 128;

// Builds a DeviceFrame into buf (kFrameBufferSize bytes).
// Returns the frame length; 0 for a command above 3 (nothing to send);
// -1 for commands 1 to 3 without a payload or with one that does not fit.
int BuildDeviceFrame(
    unsigned char* buf, unsigned int command, const unsigned char* senderId, const char* payload);

// Acceptance test of a received DeviceFrame of n bytes.
bool CheckRetuenDate(const unsigned char* buf, int n);

enum class ReplyOutcome { NotAFrame, Rejected, NoSeparator, Accepted };

// Reads a reply of n bytes in place. buf must have room for n + 1 bytes: the text is
// terminated at n and the first "-" of the payload is replaced by a NUL.
// On Accepted, head and body point into buf.
ReplyOutcome ReadReply(unsigned char* buf, int n, const char** head, const char** body);

enum class AnnounceOutcome { Ignored, Rejected, Accepted };

// Acceptance test of a received AnnounceFrame of n bytes (n < 0 for a failed receive).
// Receive into kAnnounceSlotSize + 1 bytes: a datagram that did not fit a slot is ignored.
AnnounceOutcome CheckAnnounce(const unsigned char* buf, int n);
