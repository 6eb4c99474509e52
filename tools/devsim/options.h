// Command line of the device simulator.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// A device's own serial number and name, in place of the numbered ones; empty: numbered.
struct SimIdentity {
    std::string sn;
    std::string name;
};

struct DevsimOptions {
    int count = 1;
    uint32_t baseIp = 0xC0A80164; // 192.168.1.100; device k (from 1) gets base + k
    std::string snPrefix = "SN";
    std::vector<SimIdentity> identities; // device k (from 1) takes the k-th
    bool noLibverAll = false;
    std::set<int> noLibver; // 1-based device numbers
    std::set<int> announceOnly;
    bool ignoreSetAll = false;
    std::set<int> ignoreSet; // these keep their settings whatever they are sent
    int jitterMs = 0;
    double announceEvery = 0; // seconds; 0: never
    bool garbage = false;
    double floodRate = 0; // datagrams per second on each port; 0: off
    int burst = 0; // distinct replies per discovery request, back to back; 0: one per device
    double pacedRate = 0; // distinct replies per second after a discovery request; 0: off
    double pacedFor = 0; // seconds that a paced run lasts
    double duration = 0; // seconds; 0: until a signal
    bool verbose = false;
    bool help = false;
};

constexpr int kMaxBurst = 100000;
constexpr long long kMaxPaced = 200000;

// The number of replies a paced run sends: rate times its length, rounded.
long long PacedTotal(const DevsimOptions& options);

// Fills out from argv. On a bad or unknown option returns false with a one-line reason.
bool ParseDevsimOptions(int argc, char** argv, DevsimOptions* out, std::string* error);

extern const char* const kDevsimUsage;
