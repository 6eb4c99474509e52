// A datagram on the reply port, as the command channel's receive thread sees it: at most
// kFrameBufferSize + 1 bytes in a buffer of that size, with no terminator after them,
// then the reply reading and DiscoverCallback's copy into its ring.
#include "fuzztarget.h"

#include "customsignal.h"
#include "deviceframe.h"
#include "netcompat.h"
#include "service.h"

#include <algorithm>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        // No receivers: the callback still copies into its ring, and nothing else runs.
        g_customSignal = new CustomSignal;
        ServiceSetCallbackForTest(DiscoverCallback);
        return true;
    }();
    (void)ready;

    // Exactly the receive buffer's size on the heap, so a read past it is caught. The bytes
    // after the datagram are not NULs: the real buffer holds what earlier datagrams left.
    constexpr size_t kBufferSize = kFrameBufferSize + 1;
    std::unique_ptr<unsigned char[]> buf(new unsigned char[kBufferSize]);
    memset(buf.get(), 'x', kBufferSize);
    const size_t received = std::min(size, kBufferSize);
    if (received > 0)
        memcpy(buf.get(), data, received);

    ServiceHandleDatagram(buf.get(), static_cast<int>(received), 0);
    return 0;
}
