// Plain UDP sockets for tests that play the device side by hand. Only ever used inside
// the private network namespace.
#pragma once

#include "groupsocket.h"
#include "udpstats.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <algorithm>

class UdpTestSocket {
public:
    // Bound to port (0: any) and, when join is set, a member of the group.
    explicit UdpTestSocket(unsigned short port = 0, bool join = false, bool reuse = true)
        : UdpTestSocket(plainOptions(port, join, reuse))
    {
    }
    explicit UdpTestSocket(const GroupSocketOptions& options)
        : fd(OpenGroupSocket(options))
        , bound(net::isValid(fd))
    {
    }
    ~UdpTestSocket()
    {
        if (net::isValid(fd))
            net::closeSocket(fd);
    }
    UdpTestSocket(const UdpTestSocket&) = delete;
    UdpTestSocket& operator=(const UdpTestSocket&) = delete;

    bool sendToGroup(unsigned short port, const QByteArray& data) const
    {
        const sockaddr_in to = GroupDestination(port);
        return net::sendTo(fd, reinterpret_cast<const unsigned char*>(data.constData()), data.size(), to)
            == data.size();
    }

    // The next datagram, or a null array when none comes within the time.
    QByteArray receive(int timeoutSeconds = 5) const
    {
        if (!net::isValid(net::waitReadable(fd, net::kInvalidSocket, timeoutSeconds)))
            return QByteArray();
        return readOne();
    }

    // The datagrams that have arrived, without waiting for more.
    QList<QByteArray> takePending() const
    {
        QList<QByteArray> datagrams;
        while (net::isValid(net::waitReadable(fd, net::kInvalidSocket, 0))) {
            const QByteArray datagram = readOne();
            if (datagram.isNull())
                break;
            datagrams.append(datagram);
        }
        return datagrams;
    }

    net::Socket fd = net::kInvalidSocket;
    bool bound = false;

private:
    // A datagram that is waiting; null when the receive failed.
    QByteArray readOne() const
    {
        QByteArray buf(65536, '\0');
        const int n = net::receiveFrom(
            fd, reinterpret_cast<unsigned char*>(buf.data()), buf.size(), nullptr, nullptr);
        return n < 0 ? QByteArray() : buf.left(n);
    }

    static GroupSocketOptions plainOptions(unsigned short port, bool join, bool reuse)
    {
        GroupSocketOptions options;
        options.port = port;
        options.join = join;
        options.reuseAddress = reuse;
        return options;
    }
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
