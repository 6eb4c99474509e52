// devicesearch-probe INDEX ADDRESS...: sends ARP probes for the addresses on one adapter
// and prints who answered. The one program of the package that may hold CAP_NET_RAW: it
// takes nothing but an interface index and addresses, checks them before it opens its one
// packet socket, gives up every capability once that is open, and sends nothing but probes.
// Any local user may run it, so it paces itself: one run per adapter on the machine at a
// time, the others waiting their turn, and at most kMaxArpProbesPerSecond probes a second.
#include "arpprobe.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
enum Status { kDone = 0, kBadArguments = 2, kNoPermission = 3, kNoAdapter = 4, kBusy = 5, kFailed = 6 };

bool dropCapabilities()
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[2] = {};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && syscall(SYS_capset, &header, data) == 0;
}

const char* addressText(uint32_t address, char* buffer)
{
    const uint32_t network = htonl(address);
    return inet_ntop(AF_INET, &network, buffer, INET_ADDRSTRLEN);
}
}

int main(int argc, char** argv)
{
    ProbeArguments args;
    const char* why = nullptr;
    if (!ParseProbeArguments(argc, argv, &args, &why)) {
        fprintf(stderr, "devicesearch-probe: %s\n", why);
        return kBadArguments;
    }
    ArpLink link;
    link.index = args.index;
    link.targets = args.targets;
    if (!EthernetAdapter(args.index, &link.own)) {
        fprintf(
            stderr, "devicesearch-probe: interface %d is not an Ethernet adapter that is up\n", args.index);
        return kNoAdapter;
    }
    const std::atomic<bool> never { false };
    // Held to the end; the kernel lets go of it when this process ends.
    if (TakeProbeLock(args.index, kProbeLockWaitMs, never) < 0) {
        if (errno != EBUSY) {
            perror("devicesearch-probe: cannot take its turn on the adapter");
            return kFailed;
        }
        fprintf(stderr, "devicesearch-probe: interface %d: another probe run did not end within %d s\n",
            args.index, kProbeLockWaitMs / 1000);
        return kBusy;
    }
    link.socket = OpenArpSocket(args.index);
    if (link.socket < 0) {
        perror("devicesearch-probe: packet socket");
        return kNoPermission;
    }
    if (!dropCapabilities()) {
        perror("devicesearch-probe: cannot give up its capabilities");
        return kNoPermission;
    }
    const ArpLinkResult result = ProbeWithArp({ link }, never).front();
    char text[INET_ADDRSTRLEN];
    for (size_t i = 0; i < link.targets.size(); ++i) {
        const std::optional<MacAddress>& mac = result.holders[i];
        if (!mac) {
            printf("%s free\n", addressText(link.targets[i], text));
            continue;
        }
        printf("%s taken %02x:%02x:%02x:%02x:%02x:%02x\n", addressText(link.targets[i], text), (*mac)[0],
            (*mac)[1], (*mac)[2], (*mac)[3], (*mac)[4], (*mac)[5]);
    }
    printf("end %s\n",
        result.end == ArpEnd::Done              ? "done"
            : result.end == ArpEnd::AdapterGone ? "gone"
                                                : "failed");
    return fflush(stdout) == 0 ? kDone : kBadArguments;
}
