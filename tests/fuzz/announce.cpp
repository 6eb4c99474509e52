// A datagram on the announcement port, as the listener thread receives it into one ring
// slot of kAnnounceSlotSize + 1 bytes: the acceptance test and the terminator write.
#include "fuzztarget.h"

#include "deviceframe.h"

#include <algorithm>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly one slot on the heap, so a write or read past it is caught; the bytes after
    // the datagram are what an earlier announcement left, never NULs.
    constexpr size_t kSlotBytes = kAnnounceSlotSize + 1;
    std::unique_ptr<unsigned char[]> slot(new unsigned char[kSlotBytes]);
    memset(slot.get(), 'x', kSlotBytes);
    const size_t received = std::min(size, kSlotBytes);
    if (received > 0)
        memcpy(slot.get(), data, received);

    const int n = static_cast<int>(received);
    switch (CheckAnnounce(slot.get(), n)) {
    case AnnounceOutcome::Ignored:
        FUZZ_CHECK(n < kFrameHeaderSize || n > kAnnounceSlotSize || data[0] != 0x82);
        return 0;
    case AnnounceOutcome::Rejected:
        return 0;
    case AnnounceOutcome::Accepted: {
        FUZZ_CHECK(n >= kFrameHeaderSize && n <= kAnnounceSlotSize);
        slot[n] = 0;
        // What the window receives: a terminated text inside the slot, its length n - 11.
        const char* text = reinterpret_cast<const char*>(slot.get() + kFrameHeaderSize);
        const unsigned int length = static_cast<unsigned int>(n - kFrameHeaderSize);
        FUZZ_CHECK(strlen(text) <= length);
        FUZZ_CHECK(memcmp(text, data + kFrameHeaderSize, length) == 0);
        return 0;
    }
    }
    return 0;
}
