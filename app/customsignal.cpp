#include "customsignal.h"

#include "service.h"

#include <QCoreApplication>

#include <atomic>

std::atomic<CustomSignal*> g_customSignal { nullptr };

namespace {
char g_replyRing[kReplyRingSlots][kReplyRingSlotSize];
// The interface each slot's reply came in on.
std::atomic<int> g_replyRingInterface[kReplyRingSlots];
// Atomic: the receive thread advances it, and tests also call the callback on the GUI
// thread while the receive thread may still be finishing its previous call.
std::atomic<unsigned char> g_replyIndex { 0 };

// Both seq_cst: the callback announces itself before it looks at the gate, and the
// closer shuts the gate before it counts, so neither can miss the other.
std::atomic<bool> g_closed { false };
std::atomic<int> g_inFlight { 0 };
}

CustomSignal::CustomSignal(QObject* parent)
    : QObject(parent)
{
}

int DiscoverCallback(int status, const char*, const char* body)
{
    if (status != 0)
        return 0;
    if (!body)
        return -1;
    CustomSignal* const carrier = g_customSignal.load();
    if (!carrier)
        return 0;
    g_inFlight.fetch_add(1);
    if (!g_closed.load()) {
        // The slot is claimed before the emission: once the window's slot has returned,
        // the GUI thread goes on while this thread may still be inside the emission, so
        // nothing but the in-flight count is touched after it.
        const unsigned char index = g_replyIndex.load();
        g_replyIndex.store(static_cast<unsigned char>((index + 1) % kReplyRingSlots));
        char* slot = g_replyRing[index];
        CopyReplyBody(slot, body);
        g_replyRingInterface[index].store(ServiceReplyInterface());
        emit carrier->sig_DiscoverDetDevice(slot, 1, 0);
    }
    g_inFlight.fetch_sub(1);
    return 0;
}

void DiscoverCallbackClose()
{
    g_closed.store(true);
    while (g_inFlight.load() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

int ReplyInterfaceOf(const char* payload)
{
    for (int i = 0; i < kReplyRingSlots; ++i) {
        if (payload == g_replyRing[i])
            return g_replyRingInterface[i].load();
    }
    return 0;
}
