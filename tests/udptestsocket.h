// Plain UDP sockets for tests that play the device side by hand. Only ever used inside
// the private network namespace.
#pragma once

#include "netcompat.h"
#include "udpstats.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class UdpTestSocket {
public:
    // Bound to port (0: any) and, when join is set, a member of 230.1.1.1.
    explicit UdpTestSocket(unsigned short port = 0, bool join = false, bool reuse = true)
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int one = 1;
        if (reuse)
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        bound = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
        if (join) {
            ip_mreq m {};
            m.imr_multiaddr.s_addr = inet_addr("230.1.1.1");
            m.imr_interface.s_addr = htonl(INADDR_ANY);
            setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof(m));
        }
    }
    ~UdpTestSocket() { close(fd); }
    UdpTestSocket(const UdpTestSocket&) = delete;
    UdpTestSocket& operator=(const UdpTestSocket&) = delete;

    bool sendToGroup(unsigned short port, const QByteArray& data) const
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = inet_addr("230.1.1.1");
        return sendto(fd, data.constData(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to))
            == data.size();
    }

    // The next datagram, or a null array when none comes within the time.
    QByteArray receive(int timeoutMs = 5000) const
    {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, timeoutMs) <= 0)
            return QByteArray();
        char buf[65536];
        const ssize_t n = recv(fd, buf, sizeof(buf), 0);
        return n < 0 ? QByteArray() : QByteArray(buf, int(n));
    }

    int fd = -1;
    bool bound = false;
};

// True once this process holds a UDP socket on port. Reads /proc, so unlike a probe bind it
// can never take the port from the code under test.
inline bool PortHeldHere(unsigned short port)
{
    return !OwnUdpSocketsOnPort(port).empty();
}

// What the kernel grants the program's request for a large receive buffer: Linux caps it at
// net.core.rmem_max and reports twice the granted size, its bookkeeping included.
inline long long GrantedReceiveBuffer()
{
    const long long cap = UdpReceiveBufferCap();
    return 2 * std::min<long long>(net::kReceiveBufferBytes, cap < 0 ? net::kReceiveBufferBytes : cap);
}
