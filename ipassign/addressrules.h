// The arithmetic rules of a batch of addresses, shared by the window's set button and the
// command line: plain functions on address numbers (first octet in the top byte).
#pragma once

#include <QString>

#include <cstdint>

// Dotted text to its number; 0 unless the text has exactly four dot-separated parts.
// Each part is read as decimal and not range-checked: callers pass checked octets.
uint32_t AddressFromText(const QString& text);
QString AddressText(uint32_t address);

// What is wrong with a range, in the order the window checks it.
enum class RangeProblem { None, DifferentSegment, StartNotBelowEnd, LastOctet255 };

// start to end for several devices; for one device only start counts (end is ignored).
// The segment is a fixed /24, whatever the mask.
RangeProblem CheckAddressRange(uint32_t start, uint32_t end, bool several);

// The gateway a new address gets by default: its first three octets and .1.
QString DefaultGateway(const QString& address);
uint32_t DefaultGatewayAddress(uint32_t address);

// Plain dotted decimal: four decimal octets of 0 to 255, nothing else, and no leading zero
// (010 reads as 8 to some parsers and 10 to others). Empty when text is one; otherwise why not.
QString DottedAddressProblem(const QString& text, uint32_t* address);

// The prefix length of a contiguous mask (ones, then zeros); -1 for any other.
int MaskPrefix(uint32_t mask);

// What is wrong with one device's new settings, beyond the syntax of each.
enum class SettingsProblem {
    None,
    MaskNotContiguous,
    MaskEmpty, // 0.0.0.0: no network at all
    AddressNotUnicast, // 0/8, 127/8, multicast or reserved: a device there is lost
    NetworkAddress,
    BroadcastAddress,
    GatewayNotUnicast,
    GatewayOutsideSubnet,
    GatewayIsAddress,
    GatewayNetworkOrBroadcast,
};
SettingsProblem CheckNetworkSettings(uint32_t address, uint32_t mask, uint32_t gateway);
