// What the probe helper, which holds CAP_NET_RAW, takes from its caller: arbitrary bytes
// split at NULs into its command line, and arbitrary bytes as an ARP packet off the link.
// What it accepts must be what it says: an index, and distinct unicast addresses that print
// back to the text given.
#include "fuzztarget.h"

#include "arpprobe.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const MacAddress own { 0x02, 0, 0, 0, 0, 1 };
    if (const std::optional<ArpSender> s = ArpHolder(data, size, own))
        FUZZ_CHECK(s->address != 0 && s->mac != own && size >= kArpPacketBytes);

    std::vector<std::string> parts(1, "devicesearch-probe");
    parts.emplace_back();
    for (size_t i = 0; i < size && parts.size() < kMaxArpTargets + 8; ++i) {
        if (data[i] == 0)
            parts.emplace_back();
        else
            parts.back().push_back(char(data[i]));
    }
    std::vector<const char*> argv;
    for (const std::string& p : parts)
        argv.push_back(p.c_str());
    ProbeArguments args;
    const char* why = nullptr;
    if (!ParseProbeArguments(int(argv.size()), argv.data(), &args, &why)) {
        FUZZ_CHECK(why != nullptr && args.targets.empty());
        return 0;
    }
    FUZZ_CHECK(args.index > 0 && args.targets.size() == parts.size() - 2);
    for (size_t i = 0; i < args.targets.size(); ++i) {
        const uint32_t a = args.targets[i];
        FUZZ_CHECK((a >> 24) != 0 && (a >> 24) != 127 && (a >> 24) < 224);
        char text[INET_ADDRSTRLEN];
        const uint32_t network = htonl(a);
        FUZZ_CHECK(inet_ntop(AF_INET, &network, text, sizeof text) && parts[i + 2] == text);
        for (size_t j = 0; j < i; ++j)
            FUZZ_CHECK(args.targets[j] != a);
    }
    return 0;
}
