#include "customsignal.h"

#include <QCoreApplication>

#include <atomic>
#include <cstring>

CustomSignal* g_customSignal = nullptr;

namespace {
char g_replyRing[kReplyRingSlots][kReplyRingSlotSize];
unsigned char g_replyIndex = 0;

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
    if (!g_customSignal)
        return 0;
    g_inFlight.fetch_add(1);
    if (!g_closed.load()) {
        char* slot = g_replyRing[g_replyIndex];
        const size_t length = strnlen(body, kReplyRingSlotSize - 1);
        memcpy(slot, body, length);
        slot[length] = 0;
        emit g_customSignal->sig_DiscoverDetDevice(slot, 1, 0);
        g_replyIndex = static_cast<unsigned char>((g_replyIndex + 1) % kReplyRingSlots);
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
