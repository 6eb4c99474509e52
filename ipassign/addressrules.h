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
