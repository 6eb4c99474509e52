// What the kernel tells about this process's UDP sockets: who holds a port, how many
// datagrams a socket dropped, how large a receive buffer may grow. Linux reads /proc;
// elsewhere every answer is "unknown" (0, -1 or empty) and callers say nothing of it.
#pragma once

#include <map>
#include <vector>

// The inode behind a socket descriptor, as /proc/net/udp names sockets; 0 when unknown.
unsigned long SocketInode(int fd);

// Inode → descriptor for this process's own sockets.
std::map<unsigned long, int> OwnSocketInodes();

// The drops column of /proc/net/udp for the socket with this inode; -1 when it is not listed.
long long UdpDropsOfInode(unsigned long inode);

// The drops of this process's sockets bound to port, added up; -1 when it holds none.
long long OwnUdpDropsOnPort(unsigned short port);

// Whether this process (or the process pid) holds an IPv4 UDP socket bound to port (on
// Windows from the system's UDP table; false when the system does not say). Unlike a bind
// to find out, it never takes the port from the process that is about to bind it.
bool OwnUdpPortHeld(unsigned short port);
bool UdpPortHeldBy(long long pid, unsigned short port);

// This process's descriptors of IPv4 UDP sockets bound to port.
std::vector<int> OwnUdpSocketsOnPort(unsigned short port);

// The largest receive buffer an unprivileged request may get (net.core.rmem_max); -1 when unknown.
long long UdpReceiveBufferCap();
