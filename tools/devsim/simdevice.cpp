#include "simdevice.h"

#include "deviceframe.h"
#include "options.h"
#include "protocol.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>

namespace {

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;
using TextPtr = std::unique_ptr<char, decltype(&free)>;

const char* const kLibver = "1.2.3";
const char* const kModePrefix = "MODE";
const unsigned char kAnnounceHeader[kFrameHeaderSize] = { kStartByte, 0, 0, 0, 0, 0, 0, kMarker, 0, 0, 0 };

std::string dotted(uint32_t address)
{
    char text[16];
    snprintf(text, sizeof(text), "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
        address & 0xFF);
    return text;
}

std::string numbered(const char* prefix, const char* format, int number)
{
    char digits[16];
    snprintf(digits, sizeof(digits), format, number);
    return std::string(prefix) + digits;
}

// Bytes 7 and 8 of a DeviceFrame come from the sender id; 0x00 at byte 7 keeps a reply
// that strays to the announcement port from passing as an announcement.
void senderIdOf(int number, unsigned char* id)
{
    const unsigned char bytes[kSenderIdSize] = { 0xD0, 0x5E, 0x00, 0x00,
        static_cast<unsigned char>(number >> 8), static_cast<unsigned char>(number & 0xFF) };
    memcpy(id, bytes, sizeof(bytes));
}

// A DeviceFrame with command 0 and a payload. The frame builder leaves command 0 without
// one (that is the request), so build it as a command 1 frame and turn the byte back.
std::vector<unsigned char> replyFrame(int number, const std::string& payload)
{
    unsigned char id[kSenderIdSize];
    senderIdOf(number, id);
    unsigned char buf[kFrameBufferSize];
    const int length = BuildDeviceFrame(buf, kSetNetworkCommand, id, payload.c_str());
    if (length <= 0)
        return {};
    buf[kCommandOffset] = kDiscoveryCommand;
    return std::vector<unsigned char>(buf, buf + length);
}

// A reply frame of any length, with its length field saturated: the sizes past the
// frame buffer are exactly what the builder cannot make.
std::vector<unsigned char> rawReply(const std::string& payload)
{
    std::vector<unsigned char> frame(kFrameHeaderSize, 0);
    frame[0] = kStartByte;
    const size_t length = std::min<size_t>(kFrameHeaderSize + payload.size(), 0xFFFF);
    frame[kLengthOffset] = static_cast<unsigned char>(length >> 8);
    frame[kLengthOffset + 1] = static_cast<unsigned char>(length & 0xFF);
    frame[kMarkerOffset] = kMarker;
    senderIdOf(0, frame.data() + kSenderIdOffset);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::vector<unsigned char> announceFrame(const std::string& text)
{
    std::vector<unsigned char> frame(kAnnounceHeader, kAnnounceHeader + kFrameHeaderSize);
    frame.insert(frame.end(), text.begin(), text.end());
    return frame;
}

// A JSON object padded with a key no reader looks at, to exactly total bytes of frame.
std::vector<unsigned char> paddedReply(size_t total)
{
    const std::string open = "ACK-{\"pad\":\"";
    const std::string close = "\"}";
    const size_t fill = total - kFrameHeaderSize - open.size() - close.size();
    return rawReply(open + std::string(fill, 'x') + close);
}

std::vector<unsigned char> paddedAnnouncement(size_t total)
{
    std::string text = "9.9.9.9@JUNK" + std::to_string(total) + "@";
    text.resize(total - kFrameHeaderSize, 'x');
    return announceFrame(text);
}

std::string replyJson(const SimDevice& d)
{
    JsonPtr root(cJSON_CreateObject(), &cJSON_Delete);
    if (!root)
        return {};
    cJSON_AddStringToObject(root.get(), "name", d.name.c_str());
    cJSON_AddStringToObject(root.get(), "ip", d.ip.c_str());
    cJSON_AddStringToObject(root.get(), "sn", d.sn.c_str());
    cJSON_AddStringToObject(root.get(), "mode", d.mode.c_str());
    cJSON_AddStringToObject(root.get(), "mask", d.mask.c_str());
    cJSON_AddStringToObject(root.get(), "gw", d.gw.c_str());
    if (d.hasLibver)
        cJSON_AddStringToObject(root.get(), "libver", kLibver);
    TextPtr text(cJSON_PrintUnformatted(root.get()), &free);
    return text ? std::string(text.get()) : std::string();
}

// The payload as a JSON object, when it is one and nothing but white space follows it.
JsonPtr parseObject(const char* text, size_t length)
{
    const char* end = nullptr;
    JsonPtr json(cJSON_ParseWithLengthOpts(text, length, &end, false), &cJSON_Delete);
    if (!json || !cJSON_IsObject(json.get()) || !end)
        return JsonPtr(nullptr, &cJSON_Delete);
    for (; end < text + length; ++end) {
        if (!strchr(" \t\r\n", *end))
            return JsonPtr(nullptr, &cJSON_Delete);
    }
    return json;
}

} // namespace

SimDevice MakeDevice(const DevsimOptions& options, int k)
{
    SimDevice d;
    d.number = k;
    d.name = numbered("Device-", "%02d", k);
    const uint32_t address = options.baseIp + static_cast<uint32_t>(k);
    d.ip = dotted(address);
    d.sn = numbered(options.snPrefix.c_str(), "%04d", k);
    d.mode = std::string(kModePrefix) + numbered("ID", "%04d", k);
    d.mask = "255.255.255.0";
    d.gw = dotted((address & 0xFFFFFF00u) | 1u);
    if (static_cast<size_t>(k) <= options.identities.size()) {
        const SimIdentity& own = options.identities[static_cast<size_t>(k) - 1];
        d.sn = own.sn.empty() ? d.sn : own.sn;
        d.name = own.name.empty() ? d.name : own.name;
    }
    d.hasLibver = !options.noLibverAll && options.noLibver.count(k) == 0;
    d.answersDiscovery = options.announceOnly.count(k) == 0;
    d.takesSettings = !options.ignoreSetAll && options.ignoreSet.count(k) == 0;
    return d;
}

std::vector<SimDevice> MakeDevices(const DevsimOptions& options)
{
    std::vector<SimDevice> devices;
    for (int k = 1; k <= options.count; ++k)
        devices.push_back(MakeDevice(options, k));
    return devices;
}

std::vector<std::vector<unsigned char>> NumberedReplies(const DevsimOptions& options, long long count)
{
    std::vector<std::vector<unsigned char>> frames;
    frames.reserve(static_cast<size_t>(count));
    for (long long k = 1; k <= count; ++k)
        frames.push_back(BuildReplyFrame(MakeDevice(options, static_cast<int>(k))));
    return frames;
}

std::vector<unsigned char> BuildReplyFrame(const SimDevice& device)
{
    return replyFrame(device.number, "ACK-" + replyJson(device));
}

std::vector<unsigned char> BuildAnnounceFrame(const SimDevice& device)
{
    const std::string code = device.mode.substr(std::min(device.mode.size(), strlen(kModePrefix)));
    return announceFrame(device.ip + "@" + device.sn + "@" + code);
}

SimDevice* ApplySetNetwork(std::vector<SimDevice>& devices, const char* payload, size_t length)
{
    JsonPtr json = parseObject(payload, length);
    if (!json)
        return nullptr;
    const char* sn = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(json.get(), "sn"));
    if (!sn)
        return nullptr;
    for (SimDevice& d : devices) {
        if (d.sn != sn)
            continue;
        if (!d.takesSettings)
            return nullptr;
        // Bounded, so that the device's next reply still fits a frame.
        auto take = [&](const char* key, std::string* field) {
            const char* value = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(json.get(), key));
            if (value && strlen(value) <= 64)
                *field = value;
        };
        take("ip", &d.ip);
        take("mask", &d.mask);
        take("gw", &d.gw);
        return &d;
    }
    return nullptr;
}

std::vector<std::vector<unsigned char>> GarbageFrames(const SimDevice& sample, std::mt19937& random)
{
    std::vector<std::vector<unsigned char>> frames;
    const std::vector<unsigned char> good = BuildReplyFrame(sample);

    // Replies that fail the reply test, each in one way.
    frames.push_back({ kStartByte, 0x00, 0x05, kMarker, kDiscoveryCommand });
    frames.push_back(rawReply("ACK-"));
    for (const auto& [offset, value] : { std::pair<int, unsigned char> { 0, kStartByte + 1 },
             { kMarkerOffset, kMarker + 1 }, { kCommandOffset, kSetNetworkCommand } }) {
        std::vector<unsigned char> frame = good;
        frame[offset] = value;
        frames.push_back(frame);
    }
    frames.push_back(rawReply("ACK{\"sn\":\"NOSEPARATOR\",\"ip\":\"9.9.9.9\"}"));
    frames.push_back(rawReply("ACK-{\"name\":\"Broken\",\"ip\":\"9.9.9"));
    frames.push_back(rawReply("ACK-{\"other\":1}"));
    frames.push_back(paddedReply(kFrameBufferSize));
    frames.push_back(paddedReply(1500));

    // Announcements: too short, wrong marker, wrong byte 8, and the slot-size boundary.
    // Their serial number starts with JUNK; of the long ones only the 128-byte one fits a
    // slot and passes the announcement test.
    frames.push_back(std::vector<unsigned char>(kAnnounceHeader, kAnnounceHeader + kFrameHeaderSize - 1));
    std::vector<unsigned char> marker = announceFrame("9.9.9.9@BADMARKER@X");
    marker[kAnnounceMarkerOffset] = kMarker + 1;
    frames.push_back(marker);
    std::vector<unsigned char> byte8 = announceFrame("9.9.9.9@BADBYTE8@X");
    byte8[kAnnounceZeroOffset] = 0x01;
    frames.push_back(byte8);
    for (size_t total : { kAnnounceSlotSize, kAnnounceSlotSize + 1, 200 })
        frames.push_back(paddedAnnouncement(total));

    // Noise that never starts like either frame, so it is never taken for one.
    std::uniform_int_distribution<int> length(1, 64);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < 3; ++i) {
        std::vector<unsigned char> noise(static_cast<size_t>(length(random)));
        for (unsigned char& b : noise)
            b = static_cast<unsigned char>(byte(random));
        if (noise[0] == kStartByte)
            noise[0] = kStartByte - 1;
        frames.push_back(noise);
    }
    return frames;
}

std::string DescribeReceived(unsigned short port, const sockaddr_in& from, const unsigned char* buf, int n)
{
    JsonPtr line(cJSON_CreateObject(), &cJSON_Delete);
    if (!line)
        return "{}";
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, address, sizeof(address));
    cJSON_AddNumberToObject(line.get(), "port", port);
    cJSON_AddStringToObject(line.get(), "from", address);
    cJSON_AddNumberToObject(line.get(), "len", n);
    std::string hex;
    hex.reserve(static_cast<size_t>(n) * 2);
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < n; ++i) {
        hex += digits[buf[i] >> 4];
        hex += digits[buf[i] & 0x0F];
    }
    cJSON_AddStringToObject(line.get(), "hex", hex.c_str());
    if (n > kCommandOffset)
        cJSON_AddNumberToObject(line.get(), "cmd", buf[kCommandOffset]);
    if (n > kFrameHeaderSize) {
        JsonPtr json = parseObject(
            reinterpret_cast<const char*>(buf + kFrameHeaderSize), static_cast<size_t>(n - kFrameHeaderSize));
        if (json)
            cJSON_AddItemToObject(line.get(), "json", json.release());
    }
    if (port == kProbePort && n == kFrameHeaderSize && memcmp(buf, SearchProbe, kFrameHeaderSize) == 0)
        cJSON_AddBoolToObject(line.get(), "probe", true);
    TextPtr text(cJSON_PrintUnformatted(line.get()), &free);
    return text ? std::string(text.get()) : std::string("{}");
}
