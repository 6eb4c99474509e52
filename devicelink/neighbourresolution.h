// The system's own address resolution, as the address check uses it where it may not send
// raw probes: how long one resolution may take, the calls that block until they know, run
// all at once, and Windows' two ways (each address resolved afresh; else a trigger datagram
// and the neighbour table).
#pragma once

#include "addresscheck.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

// Resolution gives up after 3 requests 1 s apart (Linux's and Windows' defaults).
constexpr int kResolveMs = 3600;

// Asks the link for one address and blocks until it knows.
using ResolveOne = std::function<AddressVerdict(const AddressQuery&)>;

// One verdict per query, in order: resolve called for every query at once, each on a thread
// of its own. Returns once every call returned, the bound passed or cancel came; a call that
// has not returned by then (or whose thread could not start) leaves its address unchecked
// (CannotResolve) and ends alone later.
std::vector<AddressVerdict> ResolveEachAtOnce(const std::vector<AddressQuery>& queries,
    const ResolveOne& resolve, std::chrono::milliseconds bound, const std::atomic<bool>& cancel);

#ifdef _WIN32
// Each address resolved afresh by the system on its adapter (ResolveIpNetEntry2), all at
// once. False, and verdicts untouched, where the system has no such call (Wine).
bool ResolveAfreshOnWindows(const std::vector<AddressQuery>& queries, const std::atomic<bool>& cancel,
    std::vector<AddressVerdict>* verdicts);

// Sends a datagram that makes the system resolve each address, then reads its table, and
// trusts only what changed after the datagram.
std::vector<AddressVerdict> ResolveByTriggerOnWindows(const std::vector<AddressQuery>& queries,
    const std::function<bool(const AddressQuery&)>& trigger, const std::atomic<bool>& cancel);
#endif
