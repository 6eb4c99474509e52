// What one accepted answer says about a device: the fields a table row or a line of output
// shows. Both programs read payloads through this, so they always agree.
#pragma once

#include <QString>

#include <optional>

enum class AnswerKind { Announcement, Reply };

// A reply body is read up to this many bytes, as the window's reply ring keeps it.
constexpr int kReplyBodyLimit = 511;

// Copies body, cut at kReplyBodyLimit bytes, into slot (kReplyBodyLimit + 1 bytes) with its NUL.
void CopyReplyBody(char* slot, const char* body);

struct DeviceFields {
    AnswerKind kind = AnswerKind::Reply;
    // A reply that names "libver" can be given new network settings.
    bool configurable = false;
    // Absent: the answer did not carry the field. A JSON key whose value is not a string
    // is present and empty.
    std::optional<QString> name;
    std::optional<QString> ip;
    std::optional<QString> sn;
    std::optional<QString> id;
};

// Reads a NUL-terminated payload: kind 0 an announcement text ("ip@sn@id", Latin-1), kind 1
// a reply body (text up to a JSON object). Nothing when the payload makes no device: a body
// without a parsable object, or with none of "name", "sn", "mode" and "ip".
std::optional<DeviceFields> ReadDevicePayload(const char* payload, unsigned char kind);

// What became of one datagram, and the device it describes when Accepted.
enum class AnswerOutcome { Accepted, TooLong, NotAFrame, Rejected, NoSeparator, NoDevice, Ignored };

struct Answer {
    AnswerOutcome outcome = AnswerOutcome::Ignored;
    DeviceFields device;
};

// A datagram of size bytes from the reply port, read as the window's command channel and
// table read it: the frame test, the cut at the first "-", the body limit, the payload.
Answer ReadReplyDatagram(const char* data, long long size);

// A datagram from the announcement port, read as the window's listener and table read it.
Answer ReadAnnounceDatagram(const char* data, long long size);

// A short English description of an outcome, for diagnostics.
const char* AnswerOutcomeText(AnswerOutcome outcome);
