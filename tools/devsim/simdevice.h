// The simulated devices and the datagrams they send, as plain data.
#pragma once

#include <random>
#include <string>
#include <vector>

struct DevsimOptions;
struct sockaddr_in;

struct SimDevice {
    int number = 0; // from 1
    std::string name;
    std::string ip;
    std::string sn;
    std::string mode; // "MODE" followed by the identification code
    std::string mask;
    std::string gw;
    bool hasLibver = true;
    bool answersDiscovery = true;
    bool takesSettings = true;
};

struct Datagram {
    unsigned short port = 0;
    std::vector<unsigned char> bytes;
};

// Device k (from 1), numbered as --count numbers them, also past --count.
SimDevice MakeDevice(const DevsimOptions& options, int k);
std::vector<SimDevice> MakeDevices(const DevsimOptions& options);
// The replies of devices 1 to count, built ahead so that they can go out back to back.
std::vector<std::vector<unsigned char>> NumberedReplies(const DevsimOptions& options, long long count);

// A DeviceFrame with command 0 and the payload "ACK-" and the device's JSON object.
std::vector<unsigned char> BuildReplyFrame(const SimDevice& device);
// An AnnounceFrame carrying ip@sn@code.
std::vector<unsigned char> BuildAnnounceFrame(const SimDevice& device);

// Applies a set-network payload ({"sn","ip","mask","gw"}) to the device whose serial
// number it names. Returns that device, or null when the text names none or the device
// ignores set-network commands.
SimDevice* ApplySetNetwork(std::vector<SimDevice>& devices, const char* payload, size_t length);

// Malformed datagrams that a receiver must survive, each meant for both answer ports.
std::vector<std::vector<unsigned char>> GarbageFrames(const SimDevice& sample, std::mt19937& random);

// The one-line JSON report of a received datagram.
std::string DescribeReceived(unsigned short port, const sockaddr_in& from, const unsigned char* buf, int n);
