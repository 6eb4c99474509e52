// Command line of the device simulator.
#pragma once

#include <cstdint>
#include <set>
#include <string>

struct DevsimOptions {
    int count = 1;
    uint32_t baseIp = 0xC0A80164; // 192.168.1.100; device k (from 1) gets base + k
    std::string snPrefix = "SN";
    bool noLibverAll = false;
    std::set<int> noLibver; // 1-based device numbers
    std::set<int> announceOnly;
    int jitterMs = 0;
    double announceEvery = 0; // seconds; 0: never
    bool garbage = false;
    double floodRate = 0; // datagrams per second on each port; 0: off
    double duration = 0; // seconds; 0: until a signal
    bool verbose = false;
    bool help = false;
};

// Fills out from argv. On a bad or unknown option returns false with a one-line reason.
bool ParseDevsimOptions(int argc, char** argv, DevsimOptions* out, std::string* error);

extern const char* const kDevsimUsage;
