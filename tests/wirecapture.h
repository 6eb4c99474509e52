// Reads the UDP datagrams to the group off an interface with a packet socket, to check
// what really went on the wire. Only ever used inside the private network namespace.
#pragma once

#include <QByteArray>
#include <QVector>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

struct WireDatagram {
    unsigned short sourcePort;
    unsigned short destinationPort;
    QByteArray payload;
};

// Sees every UDP datagram to 230.1.1.1 as it crosses an interface, in wire order: on
// loopback as it arrives, on a veth as it leaves this host.
class WireCapture {
public:
    explicit WireCapture(const char* interfaceName = "lo")
        : m_outgoing(QByteArray(interfaceName) != "lo")
    {
        // Only taps on every protocol see what leaves an interface.
        fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL));
        // A looped-back packet is charged at the size of loopback's 64 KiB MTU: the default
        // buffer holds only three until they are read.
        const int bytes = 4 * 1024 * 1024;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
        sockaddr_ll where {};
        where.sll_family = AF_PACKET;
        where.sll_protocol = htons(ETH_P_ALL);
        where.sll_ifindex = int(if_nametoindex(interfaceName));
        bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof(where));
    }
    ~WireCapture() { close(fd); }
    bool ok() const { return fd >= 0; }

    QVector<WireDatagram> take(int quietMs)
    {
        QVector<WireDatagram> seen;
        pollfd p { fd, POLLIN, 0 };
        while (poll(&p, 1, quietMs) > 0) {
            unsigned char packet[65536];
            sockaddr_ll from {};
            socklen_t length = sizeof(from);
            const ssize_t n
                = recvfrom(fd, packet, sizeof(packet), 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n < int(sizeof(iphdr)) || from.sll_protocol != htons(ETH_P_IP)
                || (from.sll_pkttype == PACKET_OUTGOING) != m_outgoing)
                continue;
            const auto* ip = reinterpret_cast<const iphdr*>(packet);
            const size_t headerLength = ip->ihl * 4u;
            if (ip->protocol != IPPROTO_UDP || ip->daddr != inet_addr("230.1.1.1")
                || size_t(n) < headerLength + sizeof(udphdr))
                continue;
            const auto* udp = reinterpret_cast<const udphdr*>(packet + headerLength);
            const auto* payload = reinterpret_cast<const char*>(udp + 1);
            seen.append({ ntohs(udp->source), ntohs(udp->dest),
                QByteArray(payload, int(n - headerLength - sizeof(udphdr))) });
        }
        return seen;
    }

    int fd = -1;

private:
    bool m_outgoing = false;
};
