// What watch knows of every device it heard: the last answer, when, and whether it went
// away. Plain data and functions, so tests drive it with answers and times alone.
#pragma once

#include "entry.h"

#include <QList>
#include <QString>

#include <map>
#include <optional>
#include <utility>
#include <vector>

enum class WatchEventKind { New, Changed, Gone, Back };

const char* WatchEventName(WatchEventKind kind); // "new", "changed", "gone", "back"

struct WatchEvent {
    WatchEventKind kind = WatchEventKind::New;
    Entry entry; // what is known of the device now
    // Changed: the old values of the fields that differ, by their JSON names.
    QList<std::pair<QString, QString>> was;
};

struct TrackedDevice {
    Entry entry; // the last answer, with the fields it did not carry kept from earlier ones
    qint64 heardMs = 0;
    bool gone = false;
    bool replied = false; // a reply was heard, so configurable is known
    int heardRound = 0; // the tracker's round of the last answer
};

// Devices by serial number first, then those without one by interface and address.
using TrackKey = std::pair<int, QString>;
TrackKey TrackKeyOf(const Entry& entry);

// The last answer merged with what an earlier one said: an announcement carries no name and
// does not say whether the device can be configured, so those stay as the replies said.
Entry MergedAnswer(const Entry& earlier, const Entry& latest);

// The fields that tell a change (name, ip, id, configurable, interface) that differ, with
// their old values ("true"/"false" for configurable). A field not known before (only
// announcements heard: no name, configurable unknown) changes nothing when it becomes known.
QList<std::pair<QString, QString>> ChangedFields(const Entry& before, const Entry& after, bool replied);

class DeviceTracker {
public:
    static constexpr int kDefaultLimit = 100000;
    explicit DeviceTracker(qint64 goneAfterMs, int limit = kDefaultLimit);

    // An answer heard at nowMs, and the events it makes: none, "new", "changed", "back",
    // or "back" then "changed" when the device came back different.
    QList<WatchEvent> heard(const Entry& entry, qint64 nowMs);
    // The devices not heard for the gone time by nowMs, each once. A device last heard in
    // round h is held back while a round from h on saw drops and none after h ended clean:
    // its answers may have been the ones the kernel dropped.
    QList<WatchEvent> expire(qint64 nowMs);
    // The kernel dropped datagrams in the current round.
    void noteDrops();
    // Closes the current round, clean when no drops were noted in it.
    void roundEnded();

    const std::map<TrackKey, TrackedDevice>& devices() const { return m_devices; }
    int online() const { return int(m_devices.size()) - m_gone; }
    int gone() const { return m_gone; }
    int limit() const { return m_limit; }
    // Devices heard beyond the limit, counted once each as far as a fixed-size bitmap of
    // their keys can tell (a few may share a bit, so a slight undercount).
    long long untracked() const { return m_untracked; }

private:
    void countUntracked(const TrackKey& key);

    qint64 m_goneAfterMs;
    int m_limit;
    std::map<TrackKey, TrackedDevice> m_devices;
    int m_gone = 0;
    int m_round = 0;
    bool m_roundDrops = false;
    int m_lastDropRound = -1;
    int m_lastCleanRound = -1;
    std::vector<bool> m_untrackedSeen; // allocated once the limit is reached
    long long m_untracked = 0;
};
