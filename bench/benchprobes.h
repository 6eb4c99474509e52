// What the ingest benchmark reads from the kernel and the few processes it starts itself.
// Linux only: everything here comes from /proc or from fork and exec.
#pragma once

#include "udpstats.h"

#include <map>
#include <string>
#include <sys/types.h>

// CLOCK_MONOTONIC in nanoseconds, the clock devsim stamps its sends with.
long long MonotonicNs();

// Resident memory of this process in KiB.
long long ResidentKiB();

// Bytes of the heap in use by this process.
long long HeapInUse();

struct ThreadSwitches {
    std::string name;
    long long voluntary = 0;
    long long involuntary = 0;
};

// Per thread id: the name and the context switches so far of each thread of pid.
std::map<int, ThreadSwitches> ThreadContextSwitches(pid_t pid);

// Xvfb on a display it picks itself; stopped by the destructor.
class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts it and waits for its display number; on failure returns false with the reason.
    bool start(std::string* error);
    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};
