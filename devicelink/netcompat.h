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
#include <windows.h>
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
#include <unistd.h>
#endif

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

// Waits until what was written to the file descriptor is on disk.
inline bool syncFile(int fd)
{
    return _commit(fd) == 0;
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

inline bool syncFile(int fd)
{
    return ::fsync(fd) == 0;
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

inline int setOption(Socket s, int level, int name, const void* value, int size)
{
    return ::setsockopt(s, level, name, static_cast<const char*>(value), size);
}

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
