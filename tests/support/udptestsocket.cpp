#include "udptestsocket.h"

#include "privatenetwork.h"
#include "udpstats.h"

#include <algorithm>

namespace {
// A socket that joins the group must never do so on a real network: a test run by hand
// outside the namespace stops here, before anything is joined or sent.
const GroupSocketOptions& insidePrivateNetwork(const GroupSocketOptions& options)
{
    QString why;
    if (!InsidePrivateNetwork(&why))
        qFatal("%s", qPrintable(why));
    return options;
}

GroupSocketOptions plainOptions(unsigned short port, bool join, bool reuse)
{
    GroupSocketOptions options;
    options.port = port;
    options.join = join;
    options.reuseAddress = reuse;
    return options;
}
}

UdpTestSocket::UdpTestSocket(unsigned short port, bool join, bool reuse)
    : UdpTestSocket(plainOptions(port, join, reuse))
{
}

UdpTestSocket::UdpTestSocket(const GroupSocketOptions& options)
    : fd(OpenGroupSocket(insidePrivateNetwork(options)))
    , bound(net::isValid(fd))
{
}

UdpTestSocket::~UdpTestSocket()
{
    if (net::isValid(fd))
        net::closeSocket(fd);
}

bool UdpTestSocket::sendToGroup(unsigned short port, const QByteArray& data) const
{
    const sockaddr_in to = GroupDestination(port);
    return net::sendTo(fd, reinterpret_cast<const unsigned char*>(data.constData()), data.size(), to)
        == data.size();
}

QByteArray UdpTestSocket::receive(int timeoutSeconds) const
{
    if (!net::isValid(net::waitReadable(fd, net::kInvalidSocket, timeoutSeconds)))
        return QByteArray();
    return readOne();
}

QList<QByteArray> UdpTestSocket::takePending() const
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

QByteArray UdpTestSocket::readOne() const
{
    QByteArray buf(65536, '\0');
    const int n
        = net::receiveFrom(fd, reinterpret_cast<unsigned char*>(buf.data()), buf.size(), nullptr, nullptr);
    return n < 0 ? QByteArray() : buf.left(n);
}

bool PortHeldHere(unsigned short port)
{
    return OwnUdpPortHeld(port);
}

long long GrantedReceiveBuffer()
{
    const long long cap = UdpReceiveBufferCap();
    return 2 * std::min<long long>(net::kReceiveBufferBytes, cap < 0 ? net::kReceiveBufferBytes : cap);
}
