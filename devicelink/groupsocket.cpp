#include "groupsocket.h"

#include "protocol.h"

sockaddr_in GroupDestination(unsigned short port)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, kGroupAddress, &to.sin_addr);
    return to;
}

net::Socket OpenGroupSocket(const GroupSocketOptions& options)
{
    if (!net::startup())
        return net::kInvalidSocket;
    const net::Socket s = net::udpSocket();
    if (!net::isValid(s))
        return s;
    // A refused size leaves the default, which still works.
    if (options.receiveBuffer > 0)
        net::setOption(s, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof(options.receiveBuffer));
    const int reuse = 1;
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(options.port);
    ip_mreq membership {};
    membership.imr_multiaddr = GroupDestination(0).sin_addr;
    membership.imr_interface.s_addr = options.membershipInterface;
    if ((!options.reuseAddress || net::setOption(s, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) == 0)
        && bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0
        && (!options.join
            || net::setOption(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) == 0))
        return s;
    const int error = net::lastError();
    net::closeSocket(s);
    net::setLastError(error);
    return net::kInvalidSocket;
}
