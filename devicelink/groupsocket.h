// A UDP socket in the devices' group, opened in one call, for devsim, the benchmark and the
// tests, which play the devices' side or listen beside the program. The window's command
// channel and listener open theirs step by step instead, each step with its own diagnostic.
#pragma once

#include "netcompat.h"

#include <cstdint>

struct GroupSocketOptions {
    unsigned short port = 0; // 0: any free port
    bool join = true; // a member of the group, so that it hears what is sent there
    bool reuseAddress = true; // SO_REUSEADDR: it shares the port with others, as the programs do
    uint32_t membershipInterface = 0; // network order; INADDR_ANY (0) lets the system choose
    int receiveBuffer = 0; // bytes to ask for, which the kernel may cap; 0 keeps the default
};

// The socket with the options, bound to the port on every address and then a member of the
// group (Winsock wants the bind first). kInvalidSocket when a step failed; net::lastError()
// then tells why.
net::Socket OpenGroupSocket(const GroupSocketOptions& options = {});

// The group's address at port, to send to.
sockaddr_in GroupDestination(unsigned short port);
