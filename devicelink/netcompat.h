// The few socket and thread calls whose shape differs between Winsock and POSIX.
// Everything above this header is written once for both.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <process.h>
// clang-format off
// Winsock 2 before windows.h, so that the old winsock.h never comes in
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace net {

#ifdef _WIN32
using Socket = SOCKET;
using SockLen = int;
inline const Socket kInvalidSocket = INVALID_SOCKET;
// Returned by receive helpers for a datagram larger than the buffer.
inline constexpr int kMessageTooLong = WSAEMSGSIZE;

inline bool startup()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
inline int closeSocket(Socket s)
{
    return closesocket(s);
}
inline int lastError()
{
    return WSAGetLastError();
}
inline void setLastError(int error)
{
    WSASetLastError(error);
}

// Winsock never sets errno: a socket diagnostic names WSAGetLastError() instead.
inline constexpr bool kErrnoTellsSocketErrors = false;

// Waits until what was written to the file descriptor is on disk.
inline bool syncFile(int fd)
{
    return _commit(fd) == 0;
}

// Linux hears every group any socket of the host joined unless told otherwise; Winsock
// delivers only what this socket joined.
inline bool hearOwnMembershipsOnly(Socket)
{
    return true;
}

// WSARecvMsg is an extension that each provider hands out through WSAIoctl.
inline LPFN_WSARECVMSG loadReceiveMessage(Socket s)
{
    GUID guid = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG fn = nullptr;
    DWORD bytes = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof(guid), &fn, sizeof(fn), &bytes, nullptr,
            nullptr)
        != 0)
        return nullptr;
    return fn;
}
inline LPFN_WSARECVMSG& receiveMessageFunction()
{
    static LPFN_WSARECVMSG fn = nullptr;
    return fn;
}

// Asks the socket to tell with each datagram which interface it came in on.
inline bool enablePacketInfo(Socket s)
{
    const DWORD on = 1;
    if (::setsockopt(s, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof(on)) != 0)
        return false;
    static const LPFN_WSARECVMSG fn = loadReceiveMessage(s);
    receiveMessageFunction() = fn;
    return fn != nullptr;
}

// recvfrom that also gives the index of the interface the datagram came in on (0 when the
// system did not say).
inline int receiveWithInterface(
    Socket s, unsigned char* buf, int size, sockaddr_in* from, SockLen* fromLen, int* ifindex)
{
    *ifindex = 0;
    const LPFN_WSARECVMSG fn = receiveMessageFunction();
    if (!fn)
        return static_cast<int>(
            ::recvfrom(s, reinterpret_cast<char*>(buf), size, 0, reinterpret_cast<sockaddr*>(from), fromLen));
    WSABUF data { static_cast<ULONG>(size), reinterpret_cast<CHAR*>(buf) };
    char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG msg {};
    msg.name = reinterpret_cast<sockaddr*>(from);
    msg.namelen = *fromLen;
    msg.lpBuffers = &data;
    msg.dwBufferCount = 1;
    msg.Control.len = sizeof(control);
    msg.Control.buf = control;
    DWORD received = 0;
    if (fn(s, &msg, &received, nullptr, nullptr) != 0)
        return -1;
    *fromLen = msg.namelen;
    for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c; c = WSA_CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info;
            memcpy(&info, WSA_CMSG_DATA(c), sizeof(info));
            *ifindex = static_cast<int>(info.ipi_ifindex);
        }
    }
    return static_cast<int>(received);
}

// Winsock fails a UDP socket's next sendto with WSAECONNRESET once a datagram drew an ICMP
// port unreachable: a socket that sends to many hosts must not stop at the first refusal.
inline bool ignoreUdpResets(Socket s)
{
    BOOL report = FALSE;
    DWORD bytes = 0;
    return WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &bytes, nullptr, nullptr) == 0;
}

// Runs fn on a detached thread; false when the thread could not be started.
inline bool startDetachedThread(void (*fn)())
{
    struct Trampoline {
        static unsigned __stdcall run(void* arg)
        {
            reinterpret_cast<void (*)()>(arg)();
            return 0;
        }
    };
    uintptr_t handle = _beginthreadex(nullptr, 0, &Trampoline::run, reinterpret_cast<void*>(fn), 0, nullptr);
    if (handle == 0)
        return false;
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return true;
}
#else
using Socket = int;
using SockLen = socklen_t;
inline constexpr Socket kInvalidSocket = -1;
inline constexpr int kMessageTooLong = EMSGSIZE;

// POSIX sockets need no library start.
inline bool startup()
{
    return true;
}
inline int closeSocket(Socket s)
{
    return ::close(s);
}
inline int lastError()
{
    return errno;
}
inline void setLastError(int error)
{
    errno = error;
}

inline constexpr bool kErrnoTellsSocketErrors = true;

inline bool syncFile(int fd)
{
    return ::fsync(fd) == 0;
}

// Otherwise a socket bound to the wildcard address hears the group joined by any socket of
// the host, on any interface; Winsock delivers only what the socket itself joined.
inline bool hearOwnMembershipsOnly(Socket s)
{
    const int off = 0;
    return ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof(off)) == 0;
}

inline bool enablePacketInfo(Socket s)
{
    const int on = 1;
    return ::setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on)) == 0;
}

inline int receiveWithInterface(
    Socket s, unsigned char* buf, int size, sockaddr_in* from, SockLen* fromLen, int* ifindex)
{
    *ifindex = 0;
    iovec data { buf, static_cast<size_t>(size) };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg {};
    msg.msg_name = from;
    msg.msg_namelen = fromLen ? *fromLen : 0;
    msg.msg_iov = &data;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    const ssize_t n = ::recvmsg(s, &msg, 0);
    if (n < 0)
        return -1;
    if (fromLen)
        *fromLen = msg.msg_namelen;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            memcpy(&info, CMSG_DATA(c), sizeof(info));
            *ifindex = info.ipi_ifindex;
        }
    }
    return static_cast<int>(n);
}

// An unconnected socket here hears of no ICMP error unless it asks (IP_RECVERR).
inline bool ignoreUdpResets(Socket)
{
    return true;
}

inline bool startDetachedThread(void (*fn)())
{
    struct Trampoline {
        static void* run(void* arg)
        {
            reinterpret_cast<void (*)()>(arg)();
            return nullptr;
        }
    };
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &Trampoline::run, reinterpret_cast<void*>(fn)) != 0)
        return false;
    pthread_detach(thread);
    return true;
}
#endif

inline bool isValid(Socket s)
{
    return s != kInvalidSocket;
}

// Waits until one of the sockets is readable or the time runs out.
// Returns the readable socket, or kInvalidSocket after a time-out or an error.
inline Socket waitReadable(Socket a, Socket b, int seconds)
{
    fd_set set;
    FD_ZERO(&set);
    int top = 0;
    for (Socket s : { a, b }) {
        if (!isValid(s))
            continue;
        FD_SET(s, &set);
        if (static_cast<int>(s) > top)
            top = static_cast<int>(s);
    }
    timeval timeout { seconds, 0 };
    if (select(top + 1, &set, nullptr, nullptr, &timeout) <= 0)
        return kInvalidSocket;
    if (isValid(a) && FD_ISSET(a, &set))
        return a;
    if (isValid(b) && FD_ISSET(b, &set))
        return b;
    return kInvalidSocket;
}

// recvfrom with a buffer pointer type both APIs accept.
inline int receiveFrom(Socket s, unsigned char* buf, int size, sockaddr_in* from, SockLen* fromLen)
{
    return static_cast<int>(
        ::recvfrom(s, reinterpret_cast<char*>(buf), size, 0, reinterpret_cast<sockaddr*>(from), fromLen));
}

inline int sendTo(Socket s, const unsigned char* buf, int size, const sockaddr_in& to)
{
    return static_cast<int>(::sendto(
        s, reinterpret_cast<const char*>(buf), size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)));
}

// A UDP socket that no program started from this one inherits: a child that outlived it
// would keep holding its port.
inline Socket udpSocket()
{
#ifdef _WIN32
    return WSASocketW(
        AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
#else
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
#endif
}

inline int setOption(Socket s, int level, int name, const void* value, int size)
{
    return ::setsockopt(s, level, name, static_cast<const char*>(value), size);
}

// An adapter is named by its interface index, never by its address alone: two adapters may
// hold one address (a fixed address on two isolated switches), and an address may change
// under a running program. Index 0 is the system's choice, named by address (INADDR_ANY:
// the routing table's); addresses are in network order.
#ifdef _WIN32
// Whether this Winsock takes an index in the 0.0.0.n form. Wine hands the structure to Linux
// as it is, where 0.0.0.n is no adapter's address: there the address names the adapter.
enum class IndexForm { Unknown, Taken, Refused };
inline std::atomic<IndexForm>& indexForm()
{
    static std::atomic<IndexForm> form { IndexForm::Unknown };
    return form;
}
inline bool indexFormRefused()
{
    return indexForm() == IndexForm::Refused;
}

inline bool adapterExists(int index)
{
    NET_LUID luid {};
    return ConvertInterfaceIndexToLuid(static_cast<NET_IFINDEX>(index), &luid) == NO_ERROR;
}

// Winsock takes the index where the address goes, written as the address 0.0.0.n. The
// address stands in only where that form is refused, and only for an adapter still there:
// after an adapter is removed, its address may be another adapter's (one fixed address on
// two switches), and acting on that one would be worse than failing.
inline bool setByIndexOrAddress(Socket s, int name, uint32_t group, int index, uint32_t address)
{
    ip_mreq membership {};
    membership.imr_multiaddr.s_addr = group;
    const bool isMembership = name != IP_MULTICAST_IF;
    const void* value = isMembership ? static_cast<const void*>(&membership)
                                     : static_cast<const void*>(&membership.imr_interface);
    const int size = isMembership ? sizeof(membership) : sizeof(membership.imr_interface);
    const auto set = [&](uint32_t inNetworkOrder) {
        membership.imr_interface.s_addr = inNetworkOrder;
        return setOption(s, IPPROTO_IP, name, value, size) == 0;
    };
    if (index <= 0)
        return set(address);
    if (indexForm() != IndexForm::Refused) {
        if (set(htonl(static_cast<u_long>(index)))) {
            indexForm() = IndexForm::Taken;
            return true;
        }
        // Refused is learnt once: the adapter is there, its index was not taken, its address is.
        if (indexForm() == IndexForm::Taken || address == htonl(INADDR_ANY) || !adapterExists(index))
            return false;
        const int error = lastError();
        if (!set(address)) {
            setLastError(error);
            return false;
        }
        indexForm() = IndexForm::Refused;
        return true;
    }
    if (!adapterExists(index)) {
        setLastError(WSAEADDRNOTAVAIL);
        return false;
    }
    return set(address);
}

inline bool joinGroup(Socket s, uint32_t group, int index, uint32_t address)
{
    return setByIndexOrAddress(s, IP_ADD_MEMBERSHIP, group, index, address);
}
inline bool leaveGroup(Socket s, uint32_t group, int index, uint32_t address)
{
    return setByIndexOrAddress(s, IP_DROP_MEMBERSHIP, group, index, address);
}
// The adapter the socket's multicast leaves by. It sticks to the socket, so every send
// names its own.
inline bool setMulticastInterface(Socket s, int index, uint32_t address)
{
    return setByIndexOrAddress(s, IP_MULTICAST_IF, 0, index, address);
}
#else
inline ip_mreqn adapterRequest(uint32_t group, int index, uint32_t address)
{
    ip_mreqn request {};
    request.imr_multiaddr.s_addr = group;
    request.imr_address.s_addr = index > 0 ? htonl(INADDR_ANY) : address;
    request.imr_ifindex = index > 0 ? index : 0;
    return request;
}

inline bool joinGroup(Socket s, uint32_t group, int index, uint32_t address)
{
    const ip_mreqn request = adapterRequest(group, index, address);
    return setOption(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) == 0;
}
inline bool leaveGroup(Socket s, uint32_t group, int index, uint32_t address)
{
    const ip_mreqn request = adapterRequest(group, index, address);
    return setOption(s, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof(request)) == 0;
}
// The adapter the socket's multicast leaves by. It sticks to the socket, so every send
// names its own.
inline bool setMulticastInterface(Socket s, int index, uint32_t address)
{
    const ip_mreqn request = adapterRequest(0, index, address);
    return setOption(s, IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof(request)) == 0;
}
#endif

// Room for hundreds of replies that arrive together; the kernel may grant less (on Linux
// up to net.core.rmem_max), and a refusal leaves the default, which still works.
inline constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
inline void requestReceiveBuffer(Socket s)
{
    const int bytes = kReceiveBufferBytes;
    setOption(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

// The receive buffer the socket really has, in bytes; -1 when the system does not say.
inline int receiveBufferSize(Socket s)
{
    int bytes = 0;
    SockLen size = sizeof(bytes);
    return ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bytes), &size) == 0 ? bytes : -1;
}

} // namespace net
