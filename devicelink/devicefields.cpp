#include "devicefields.h"

#include "deviceframe.h"

#include <QStringList>

#include <cJSON.h>

#include <cstring>
#include <memory>

namespace {
using JsonTree = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

// cJSON finds keys case-insensitively and takes the first of duplicates.
std::optional<QString> jsonText(const cJSON* root, const char* key)
{
    const cJSON* value = cJSON_GetObjectItem(root, key);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(cJSON_IsString(value) ? value->valuestring : nullptr);
}
}

std::optional<DeviceFields> ReadDevicePayload(const char* payload, unsigned char kind)
{
    if (!payload)
        return std::nullopt;
    DeviceFields device;
    if (kind == 0) {
        device.kind = AnswerKind::Announcement;
        const QStringList parts
            = QString::fromLatin1(payload).split('@', Qt::KeepEmptyParts, Qt::CaseSensitive);
        std::optional<QString>* fields[] = { &device.ip, &device.sn, &device.id };
        for (int i = 0; i < 3 && i < parts.size(); ++i)
            *fields[i] = parts.at(i);
        return device;
    }

    const char* object = strchr(payload, '{');
    if (!object)
        return std::nullopt;
    JsonTree root(cJSON_Parse(object), &cJSON_Delete);
    if (!root)
        return std::nullopt;
    device.name = jsonText(root.get(), "name");
    device.sn = jsonText(root.get(), "sn");
    device.id = jsonText(root.get(), "mode");
    device.ip = jsonText(root.get(), "ip");
    if (!device.name && !device.sn && !device.id && !device.ip)
        return std::nullopt;
    // The identification code is the mode without its first four characters.
    if (device.id)
        device.id = device.id->mid(4);
    device.configurable = cJSON_GetObjectItem(root.get(), "libver") != nullptr;
    return device;
}

void CopyReplyBody(char* slot, const char* body)
{
    const size_t length = strnlen(body, kReplyBodyLimit);
    memcpy(slot, body, length);
    slot[length] = 0;
}

namespace {
Answer deviceAnswer(const char* payload, unsigned char kind)
{
    Answer answer;
    const std::optional<DeviceFields> device = ReadDevicePayload(payload, kind);
    answer.outcome = device ? AnswerOutcome::Accepted : AnswerOutcome::NoDevice;
    if (device)
        answer.device = *device;
    return answer;
}
}

Answer ReadReplyDatagram(const char* data, long long size)
{
    if (size > kFrameBufferSize)
        return { AnswerOutcome::TooLong, {} };
    if (size <= 0 || !data)
        return { AnswerOutcome::NotAFrame, {} };
    unsigned char buf[kFrameBufferSize + 1];
    memcpy(buf, data, static_cast<size_t>(size));
    const char* head = nullptr;
    const char* body = nullptr;
    switch (ReadReply(buf, static_cast<int>(size), &head, &body)) {
    case ReplyOutcome::NotAFrame:
        return { AnswerOutcome::NotAFrame, {} };
    case ReplyOutcome::Rejected:
        return { AnswerOutcome::Rejected, {} };
    case ReplyOutcome::NoSeparator:
        return { AnswerOutcome::NoSeparator, {} };
    case ReplyOutcome::Accepted:
        break;
    }
    char slot[kReplyBodyLimit + 1];
    CopyReplyBody(slot, body);
    return deviceAnswer(slot, 1);
}

Answer ReadAnnounceDatagram(const char* data, long long size)
{
    if (size < kFrameHeaderSize || size > kAnnounceSlotSize || !data)
        return { AnswerOutcome::Ignored, {} };
    unsigned char slot[kAnnounceSlotSize + 1];
    memcpy(slot, data, static_cast<size_t>(size));
    switch (CheckAnnounce(slot, static_cast<int>(size))) {
    case AnnounceOutcome::Ignored:
        return { AnswerOutcome::Ignored, {} };
    case AnnounceOutcome::Rejected:
        return { AnswerOutcome::Rejected, {} };
    case AnnounceOutcome::Accepted:
        break;
    }
    slot[size] = 0;
    return deviceAnswer(reinterpret_cast<const char*>(slot + kFrameHeaderSize), 0);
}

const char* AnswerOutcomeText(AnswerOutcome outcome)
{
    switch (outcome) {
    case AnswerOutcome::Accepted:
        return "accepted";
    case AnswerOutcome::TooLong:
        return "longer than a frame";
    case AnswerOutcome::NotAFrame:
        return "not a frame";
    case AnswerOutcome::Rejected:
        return "rejected by the frame check";
    case AnswerOutcome::NoSeparator:
        return "no \"-\" after the head";
    case AnswerOutcome::NoDevice:
        return "no device in the payload";
    case AnswerOutcome::Ignored:
        break;
    }
    return "ignored";
}
