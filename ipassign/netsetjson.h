// The set-network command text: one compact JSON object that names a device by its
// serial number and carries its new address, mask and gateway.
#pragma once

#include "protocol.h" // kSetNetworkCommand, the DeviceFrame command that carries the text

#include <QByteArray>

#include <cstdint>

// Out of memory, or no request given.
constexpr int kNetSetJsonError = static_cast<int>(0x80000008u);

struct MnsEntry {
    uint8_t no = 0;
    const char* sip = nullptr;
    const char* smask = nullptr;
    const MnsEntry* next = nullptr;
};

// Texts are borrowed and copied by the builder; a null text stands for "".
struct NetSetParam {
    uint8_t net = 0;
    const char* ip = nullptr;
    const char* mask = nullptr;
    const char* gw = nullptr;
    const char* mdns = nullptr;
    const char* adns = nullptr;
    const MnsEntry* mns = nullptr;
};

// Returns a malloc'ed text the caller releases with free(), and *err = 0; or null with
// *err = kNetSetJsonError. sn may be null.
char* BuildNetSetJson(const NetSetParam* param, const char* sn, int* err);

// The text the batch sends to one device: net 1, its new address, mask and gateway, no DNS
// and no extra addresses. Empty when out of memory.
QByteArray BatchNetSetJson(
    const QByteArray& sn, const QByteArray& ip, const QByteArray& mask, const QByteArray& gw);
