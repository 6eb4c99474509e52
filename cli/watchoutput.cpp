#include "watchoutput.h"

#include "output.h"

#include <QJsonValue>

namespace {
// Cells padded to the widths of the header, so that most lines line up.
const QStringList kEventColumns { "TIME", "EVENT", "SERIAL", "IP", "NAME", "ID", "IFACE", "CHANGES" };
const int kEventWidths[] = { 8, 7, 12, 15, 16, 10, 8 };

QString cell(const std::optional<QString>& field)
{
    return field && !field->isEmpty() ? TerminalSafe(*field) : QStringLiteral("-");
}

QString fixedLine(const QStringList& cells)
{
    QString line;
    for (int i = 0; i < cells.size(); ++i)
        line += i + 1 < cells.size() ? cells.at(i).leftJustified(kEventWidths[i]) + QStringLiteral("  ")
                                     : cells.at(i);
    while (line.endsWith(QLatin1Char(' ')))
        line.chop(1);
    return line + QLatin1Char('\n');
}

QString changesText(const WatchEvent& event)
{
    QStringList parts;
    const QJsonObject now = ToJson(event.entry);
    for (const auto& [key, old] : event.was) {
        const QJsonValue value = now.value(key);
        const QString current = value.isBool() ? (value.toBool() ? "true" : "false") : value.toString();
        parts << QStringLiteral("%1 %2 -> %3")
                     .arg(key, old.isEmpty() ? "-" : TerminalSafe(old),
                         current.isEmpty() ? "-" : TerminalSafe(current));
    }
    return parts.join(QStringLiteral(", "));
}
}

QJsonObject ToJson(const WatchEvent& event, const QDateTime& time)
{
    QJsonObject object = ToJson(event.entry);
    object.insert("event", WatchEventName(event.kind));
    object.insert("time", time.toUTC().toString(Qt::ISODateWithMs));
    if (event.kind == WatchEventKind::Changed) {
        QJsonObject was;
        for (const auto& [key, old] : event.was)
            was.insert(key,
                key == QLatin1String("configurable") ? QJsonValue(old == QLatin1String("true"))
                    : old.isEmpty()                  ? QJsonValue(QJsonValue::Null)
                                                     : QJsonValue(old));
        object.insert("was", was);
    }
    return object;
}

QString WatchEventHeader()
{
    return fixedLine(kEventColumns);
}

QString WatchEventLine(const WatchEvent& event, const QDateTime& time)
{
    const DeviceFields& d = event.entry.device;
    return fixedLine({ time.toString(QStringLiteral("HH:mm:ss")), WatchEventName(event.kind), cell(d.sn),
        cell(d.ip), cell(d.name), cell(d.id),
        event.entry.interfaceName.isEmpty() ? QStringLiteral("-") : TerminalSafe(event.entry.interfaceName),
        changesText(event) });
}

QString LiveViewText(const DeviceTracker& tracker, qint64 nowMs, const WatchStatus& status, int rows)
{
    QList<QStringList> lines { { "SERIAL", "NAME", "IP", "ID", "IFACE", "STATE", "LAST" } };
    const int shown = std::max(1, rows - 3); // the title, the line of the rest and the status
    const int total = int(tracker.devices().size());
    for (const auto& [key, device] : tracker.devices()) {
        if (lines.size() > shown && total > shown)
            break;
        const Entry& e = device.entry;
        lines.append({ cell(e.device.sn), cell(e.device.name), cell(e.device.ip), cell(e.device.id),
            e.interfaceName.isEmpty() ? QStringLiteral("-") : TerminalSafe(e.interfaceName),
            device.gone ? "gone" : "online", QStringLiteral("%1 s").arg((nowMs - device.heardMs) / 1000) });
    }
    QString text = AlignedText(lines);
    if (total > lines.size() - 1)
        text += QStringLiteral("... and %1 more\n").arg(total - (lines.size() - 1));
    text += QStringLiteral("%1 online, %2 gone, %3 rounds, next round in %4 s")
                .arg(tracker.online())
                .arg(tracker.gone())
                .arg(status.rounds)
                .arg(status.nextRoundS);
    if (status.dropRounds > 0)
        text += QStringLiteral(", drops in %1 rounds").arg(status.dropRounds);
    return text + QLatin1Char('\n');
}

QString WatchSummary(const DeviceTracker& tracker, const WatchStatus& status, const QStringList& interfaces)
{
    const int* c = status.counts;
    QString summary = QStringLiteral("%1 rounds in %2 s on %3: %4 devices, %5 online, %6 gone; "
                                     "%7 new, %8 changed, %9 gone, %10 back")
                          .arg(status.rounds)
                          .arg(status.elapsedMs / 1000)
                          .arg(interfaces.join(", "))
                          .arg(tracker.devices().size())
                          .arg(tracker.online())
                          .arg(tracker.gone())
                          .arg(c[0])
                          .arg(c[1])
                          .arg(c[2])
                          .arg(c[3]);
    if (status.drops < 0)
        summary += QStringLiteral("; datagrams dropped by the kernel: unknown");
    else if (status.drops == 0)
        summary += QStringLiteral("; 0 datagrams dropped by the kernel");
    else
        summary += QStringLiteral("; %1 datagrams dropped by the kernel in %2 rounds")
                       .arg(status.drops)
                       .arg(status.dropRounds);
    if (tracker.untracked() > 0)
        summary += QStringLiteral("\nabout %1 more devices were heard but not tracked: at most %2 are")
                       .arg(tracker.untracked())
                       .arg(tracker.limit());
    return summary;
}
