// Plain UDP sockets for tests that play the device side by hand. Only ever used inside
// the private network namespace.
#pragma once

#include "netcompat.h"
#include "udpstats.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>

class UdpTestSocket {
public:
    // Bound to port (0: any) and, when join is set, a member of 230.1.1.1.
    explicit UdpTestSocket(unsigned short port = 0, bool join = false, bool reuse = true)
    {
        net::startup();
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int one = 1;
        if (reuse)
            net::setOption(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        bound = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
        if (join) {
            ip_mreq m {};
            m.imr_multiaddr.s_addr = inet_addr("230.1.1.1");
            m.imr_interface.s_addr = htonl(INADDR_ANY);
            net::setOption(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof(m));
        }
    }
    ~UdpTestSocket() { net::closeSocket(fd); }
    UdpTestSocket(const UdpTestSocket&) = delete;
    UdpTestSocket& operator=(const UdpTestSocket&) = delete;

    bool sendToGroup(unsigned short port, const QByteArray& data) const
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = inet_addr("230.1.1.1");
        return net::sendTo(fd, reinterpret_cast<const unsigned char*>(data.constData()), data.size(), to)
            == data.size();
    }

    // The next datagram, or a null array when none comes within the time.
    QByteArray receive(int timeoutSeconds = 5) const
    {
        if (!net::isValid(net::waitReadable(fd, net::kInvalidSocket, timeoutSeconds)))
            return QByteArray();
        QByteArray buf(65536, '\0');
        const int n = net::receiveFrom(
            fd, reinterpret_cast<unsigned char*>(buf.data()), buf.size(), nullptr, nullptr);
        return n < 0 ? QByteArray() : buf.left(n);
    }

    net::Socket fd = net::kInvalidSocket;
    bool bound = false;
};

// True once this process holds a UDP socket on port. Asks the system's socket table, so
// unlike a probe bind it can never take the port from the code under test.
inline bool PortHeldHere(unsigned short port)
{
    return OwnUdpPortHeld(port);
}

// What the kernel grants the program's request for a large receive buffer: Linux caps it at
// net.core.rmem_max and reports twice the granted size, its bookkeeping included.
inline long long GrantedReceiveBuffer()
{
    const long long cap = UdpReceiveBufferCap();
    return 2 * std::min<long long>(net::kReceiveBufferBytes, cap < 0 ? net::kReceiveBufferBytes : cap);
}
