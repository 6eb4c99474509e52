// The program's pieces as the entry point wires them, for end-to-end tests that talk to
// devsim over real sockets: the window, the listener and the signal carrier.
#pragma once

#include "threadgetdevice.h"
#include "windowfixture.h"

class DeviceSearchFixture : public WindowFixture {
public:
    // Ready once the listener holds the announcement port.
    DeviceSearchFixture();
    ~DeviceSearchFixture();

    ThreadGetDevice listener;
};
