// The set-network command text and its frame, from arbitrary serial numbers, masks and
// gateways (the input split at its first two NULs; a missing part is a null text): the
// JSON must read back to the same texts, and a frame is built exactly when it fits.
#include "fuzztarget.h"

#include "deviceframe.h"
#include "netsetjson.h"

#include <cJSON.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {
const unsigned char kSenderId[kSenderIdSize] = { 0x11, 0x22, 0x33, 0x44, 0x00, 0x00 };

using JsonTree = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

void checkMember(const cJSON* root, const char* key, const char* expected)
{
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(root, key);
    FUZZ_CHECK(cJSON_IsString(item));
    FUZZ_CHECK(strcmp(item->valuestring, expected ? expected : "") == 0);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Each part keeps its own heap block, so a read past its NUL is caught.
    std::vector<std::unique_ptr<char[]>> parts;
    size_t start = 0;
    while (parts.size() < 3 && start <= size) {
        const uint8_t* end
            = start < size ? static_cast<const uint8_t*>(memchr(data + start, 0, size - start)) : nullptr;
        const size_t length = end ? static_cast<size_t>(end - (data + start)) : size - start;
        std::unique_ptr<char[]> text(new char[length + 1]);
        if (length > 0)
            memcpy(text.get(), data + start, length);
        text[length] = 0;
        parts.push_back(std::move(text));
        if (!end)
            break;
        start += length + 1;
    }
    const char* sn = parts.size() > 0 ? parts[0].get() : nullptr;
    const char* mask = parts.size() > 1 ? parts[1].get() : nullptr;
    const char* gw = parts.size() > 2 ? parts[2].get() : nullptr;

    NetSetParam param;
    param.net = 1;
    param.ip = "192.168.1.100";
    param.mask = mask;
    param.gw = gw;
    int err = -1;
    std::unique_ptr<char, decltype(&free)> text(BuildNetSetJson(&param, sn, &err), &free);
    FUZZ_CHECK(text && err == 0);

    JsonTree root(cJSON_Parse(text.get()), &cJSON_Delete);
    FUZZ_CHECK(cJSON_IsObject(root.get()));
    checkMember(root.get(), "sn", sn);
    checkMember(root.get(), "mask", mask);
    checkMember(root.get(), "gw", gw);
    checkMember(root.get(), "ip", param.ip);

    // ServiceSendCmd's frame, built into a buffer of exactly the frame size.
    std::unique_ptr<unsigned char[]> frame(new unsigned char[kFrameBufferSize]);
    const int n = BuildDeviceFrame(frame.get(), 1, kSenderId, text.get());
    const size_t textLength = strlen(text.get());
    if (textLength > static_cast<size_t>(kMaxFramePayload)) {
        FUZZ_CHECK(n == -1);
        return 0;
    }
    FUZZ_CHECK(n == static_cast<int>(kFrameHeaderSize + textLength));
    FUZZ_CHECK(frame[0] == 0x82 && frame[3] == 0xF0 && frame[4] == 1);
    FUZZ_CHECK(((frame[1] << 8) | frame[2]) == n);
    FUZZ_CHECK(memcmp(frame.get() + 5, kSenderId, kSenderIdSize) == 0);
    FUZZ_CHECK(memcmp(frame.get() + kFrameHeaderSize, text.get(), textLength) == 0);
    // The device reads the text up to a NUL that must still be inside the buffer.
    FUZZ_CHECK(n < kFrameBufferSize && frame[n] == 0);
    return 0;
}
