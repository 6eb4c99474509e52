#include "devicetracker.h"

#include <QHash>

namespace {
constexpr size_t kUntrackedBits = size_t(1) << 22; // 512 KiB however many come

QString optionalText(const std::optional<QString>& field)
{
    return field.value_or(QString());
}
}

const char* WatchEventName(WatchEventKind kind)
{
    switch (kind) {
    case WatchEventKind::New:
        return "new";
    case WatchEventKind::Changed:
        return "changed";
    case WatchEventKind::Gone:
        return "gone";
    case WatchEventKind::Back:
        return "back";
    }
    return "?";
}

TrackKey TrackKeyOf(const Entry& entry)
{
    const std::optional<QString>& sn = entry.device.sn;
    if (sn && !sn->isEmpty())
        return { 0, *sn };
    return { 1, entry.interfaceName + QLatin1Char(' ') + optionalText(entry.device.ip) };
}

Entry MergedAnswer(const Entry& earlier, const Entry& latest)
{
    Entry merged = latest;
    DeviceFields& d = merged.device;
    for (auto field : { &DeviceFields::name, &DeviceFields::ip, &DeviceFields::id }) {
        if (!(d.*field))
            d.*field = earlier.device.*field;
    }
    if (d.kind == AnswerKind::Announcement)
        d.configurable = earlier.device.configurable;
    return merged;
}

QList<std::pair<QString, QString>> ChangedFields(const Entry& before, const Entry& after, bool replied)
{
    QList<std::pair<QString, QString>> was;
    const struct {
        const char* key;
        std::optional<QString> DeviceFields::*field;
    } kTexts[]
        = { { "name", &DeviceFields::name }, { "ip", &DeviceFields::ip }, { "id", &DeviceFields::id } };
    for (const auto& text : kTexts) {
        if (before.device.*text.field && before.device.*text.field != after.device.*text.field)
            was.append({ QString::fromLatin1(text.key), optionalText(before.device.*text.field) });
    }
    if (replied && before.device.configurable != after.device.configurable)
        was.append({ QStringLiteral("configurable"), before.device.configurable ? "true" : "false" });
    if (before.interfaceName != after.interfaceName)
        was.append({ QStringLiteral("interface"), before.interfaceName });
    return was;
}

DeviceTracker::DeviceTracker(qint64 goneAfterMs, int limit)
    : m_goneAfterMs(goneAfterMs)
    , m_limit(limit)
{
}

QList<WatchEvent> DeviceTracker::heard(const Entry& entry, qint64 nowMs)
{
    const TrackKey key = TrackKeyOf(entry);
    const auto found = m_devices.find(key);
    if (found == m_devices.end()) {
        if (int(m_devices.size()) >= m_limit) {
            countUntracked(key);
            return {};
        }
        m_devices.emplace(
            key, TrackedDevice { entry, nowMs, false, entry.device.kind == AnswerKind::Reply, m_round });
        return { { WatchEventKind::New, entry, {} } };
    }
    TrackedDevice& device = found->second;
    const Entry merged = MergedAnswer(device.entry, entry);
    const QList<std::pair<QString, QString>> was = ChangedFields(device.entry, merged, device.replied);
    device.entry = merged;
    device.replied = device.replied || entry.device.kind == AnswerKind::Reply;
    device.heardMs = nowMs;
    device.heardRound = m_round;
    QList<WatchEvent> events;
    if (device.gone) {
        device.gone = false;
        --m_gone;
        events.append({ WatchEventKind::Back, merged, {} });
    }
    if (!was.isEmpty())
        events.append({ WatchEventKind::Changed, merged, was });
    return events;
}

QList<WatchEvent> DeviceTracker::expire(qint64 nowMs)
{
    // One pass over the map: cheap beside the answers that filled it.
    QList<WatchEvent> events;
    for (auto& [key, device] : m_devices) {
        const bool mayBeDropped
            = device.heardRound <= m_lastDropRound && m_lastCleanRound <= device.heardRound;
        if (!device.gone && nowMs - device.heardMs >= m_goneAfterMs && !mayBeDropped) {
            device.gone = true;
            ++m_gone;
            events.append({ WatchEventKind::Gone, device.entry, {} });
        }
    }
    return events;
}

void DeviceTracker::noteDrops()
{
    m_roundDrops = true;
    m_lastDropRound = m_round;
}

void DeviceTracker::roundEnded()
{
    if (!m_roundDrops)
        m_lastCleanRound = m_round;
    m_roundDrops = false;
    ++m_round;
}

void DeviceTracker::countUntracked(const TrackKey& key)
{
    if (m_untrackedSeen.empty())
        m_untrackedSeen.resize(kUntrackedBits);
    const size_t bit = size_t(qHash(key.second, uint(key.first))) % kUntrackedBits;
    if (!m_untrackedSeen[bit]) {
        m_untrackedSeen[bit] = true;
        ++m_untracked;
    }
}
