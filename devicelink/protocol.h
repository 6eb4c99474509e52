// The fixed numbers of the devices' multicast protocol: where the devices and the programs
// meet, the layout of a frame's header, the command codes and the bytes this side writes.
// Both programs, devsim and the benchmark take them from here and from nowhere else.
#pragma once

// The group, and the four ports on it.
constexpr const char* kGroupAddress = "230.1.1.1";
constexpr unsigned short kCommandPort = 8838; // the devices take DeviceFrames here
constexpr unsigned short kReplyPort = 8839; // and answer them here
constexpr unsigned short kProbePort = 7838; // the devices take the announcement query here
constexpr unsigned short kAnnouncePort = 7839; // and announce themselves here

// Both layouts have an 11-byte header that starts with the start byte and carries the
// marker: a DeviceFrame at byte 3, an AnnounceFrame at byte 7.
constexpr int kFrameHeaderSize = 11;
constexpr unsigned char kStartByte = 0x82;
constexpr unsigned char kMarker = 0xF0;

// DeviceFrame: the length of the whole frame (big-endian, two bytes), the marker, the
// command code and the sender id.
constexpr int kLengthOffset = 1;
constexpr int kMarkerOffset = 3;
constexpr int kCommandOffset = 4;
constexpr int kSenderIdOffset = 5;
constexpr int kSenderIdSize = 6;

// AnnounceFrame: the marker, then a zero byte.
constexpr int kAnnounceMarkerOffset = 7;
constexpr int kAnnounceZeroOffset = 8;

// Command codes. A reply carries the discovery code; 2 and 3 are built as 1 is, though
// nothing here sends them, and no code above 3 is ever sent.
constexpr unsigned int kDiscoveryCommand = 0;
constexpr unsigned int kSetNetworkCommand = 1;
constexpr unsigned int kLastCommand = 3;

// Written into the sender id of every DeviceFrame that either program sends.
inline constexpr unsigned char ProgramSenderId[kSenderIdSize] = { 0x11, 0x22, 0x33, 0x44, 0x00, 0x00 };

// The fixed announcement query sent by a search.
inline constexpr unsigned char SearchProbe[kFrameHeaderSize]
    = { kStartByte, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, kMarker, 0x00, 0x00, 0x00 };
