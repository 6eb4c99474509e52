#include "deviceframe.h"

#include <cstring>

int BuildDeviceFrame(
    unsigned char* buf, unsigned int command, const unsigned char* senderId, const char* payload)
{
    if (command > kLastCommand)
        return 0;
    size_t payloadLen = 0;
    if (command != kDiscoveryCommand) {
        if (!payload)
            return -1;
        payloadLen = strlen(payload);
        if (payloadLen > static_cast<size_t>(kMaxFramePayload))
            return -1;
    }
    memset(buf, 0, kFrameBufferSize);
    buf[0] = kStartByte;
    buf[kMarkerOffset] = kMarker;
    buf[kCommandOffset] = static_cast<unsigned char>(command);
    memcpy(buf + kSenderIdOffset, senderId, kSenderIdSize);
    if (payloadLen > 0)
        memcpy(buf + kFrameHeaderSize, payload, payloadLen);
    const size_t length = kFrameHeaderSize + payloadLen;
    buf[kLengthOffset] = static_cast<unsigned char>(length >> 8);
    buf[kLengthOffset + 1] = static_cast<unsigned char>(length & 0xFF);
    return static_cast<int>(length);
}

bool CheckRetuenDate(const unsigned char* buf, int n)
{
    return n >= kMinReplySize && buf[0] == kStartByte && buf[kMarkerOffset] == kMarker
        && buf[kCommandOffset] == kDiscoveryCommand;
}

ReplyOutcome ReadReply(unsigned char* buf, int n, const char** head, const char** body)
{
    if (n <= 0 || buf[0] != kStartByte)
        return ReplyOutcome::NotAFrame;
    buf[n] = 0;
    if (!CheckRetuenDate(buf, n))
        return ReplyOutcome::Rejected;
    char* text = reinterpret_cast<char*>(buf + kFrameHeaderSize);
    char* dash = strchr(text, '-');
    if (!dash)
        return ReplyOutcome::NoSeparator;
    *dash = 0;
    *head = text;
    *body = dash + 1;
    return ReplyOutcome::Accepted;
}

AnnounceOutcome CheckAnnounce(const unsigned char* buf, int n)
{
    // Longer than a slot: the receive was cut short, as Winsock reports it, so ignored.
    if (n < kFrameHeaderSize || n > kAnnounceSlotSize || buf[0] != kStartByte)
        return AnnounceOutcome::Ignored;
    if (buf[kAnnounceMarkerOffset] != kMarker || buf[kAnnounceZeroOffset] != 0x00)
        return AnnounceOutcome::Rejected;
    return AnnounceOutcome::Accepted;
}
