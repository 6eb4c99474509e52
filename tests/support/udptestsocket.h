// Plain UDP sockets for tests that play the device side by hand. Only ever used inside
// the private network namespace.
#pragma once

#include "groupsocket.h"

#include <QByteArray>
#include <QList>

class UdpTestSocket {
public:
    // Bound to port (0: any) and, when join is set, a member of the group.
    explicit UdpTestSocket(unsigned short port = 0, bool join = false, bool reuse = true);
    explicit UdpTestSocket(const GroupSocketOptions& options);
    ~UdpTestSocket();
    UdpTestSocket(const UdpTestSocket&) = delete;
    UdpTestSocket& operator=(const UdpTestSocket&) = delete;

    bool sendToGroup(unsigned short port, const QByteArray& data) const;

    // The next datagram, or a null array when none comes within the time.
    QByteArray receive(int timeoutSeconds = 5) const;

    // The datagrams that have arrived, without waiting for more.
    QList<QByteArray> takePending() const;

    net::Socket fd = net::kInvalidSocket;
    bool bound = false;

private:
    // A datagram that is waiting; null when the receive failed.
    QByteArray readOne() const;
};

// True once this process holds a UDP socket on port. Asks the system's socket table, so
// unlike a probe bind it can never take the port from the code under test.
bool PortHeldHere(unsigned short port);

// What the kernel grants the program's request for a large receive buffer: Linux caps it at
// net.core.rmem_max and reports twice the granted size, its bookkeeping included.
long long GrantedReceiveBuffer();
