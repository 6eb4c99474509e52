#include "devicesearchfixture.h"

#include "customsignal.h"
#include "devicewiring.h"
#include "protocol.h"
#include "udptestsocket.h"

#include <QTest>

DeviceSearchFixture::DeviceSearchFixture()
{
    if (!g_customSignal)
        g_customSignal = new CustomSignal;
    ConnectDeviceSources(listener, window);
    listener.start();
    if (!QTest::qWaitFor([] { return PortHeldHere(kAnnouncePort); }, 10000))
        qWarning("the listener did not take the announcement port");
}

DeviceSearchFixture::~DeviceSearchFixture()
{
    StopDeviceSources(listener);
}
