// What watch prints: an event as a JSON line or as an aligned line, the live view of every
// device known, and the summary. Pure functions, so tests call them directly.
#pragma once

#include "devicetracker.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The figures of the status line and of the summary.
struct WatchStatus {
    int rounds = 0;
    int nextRoundS = 0; // seconds to the next round
    qint64 elapsedMs = 0; // since watch started
    int counts[4] = {}; // events of each kind, by WatchEventKind
    long long drops = 0; // datagrams the kernel dropped; -1 when the system keeps no count
    int dropRounds = 0; // rounds in which it dropped some
};

// The event's "event", its "time" (ISO 8601, UTC, milliseconds), the keys of search's
// entries, and for "changed" the old values under "was".
QJsonObject ToJson(const WatchEvent& event, const QDateTime& time);

// One line per event when standard output is no terminal: fixed columns, so that the lines
// of a long run stay aligned; the last column, the changes, is not padded.
QString WatchEventHeader();
QString WatchEventLine(const WatchEvent& event, const QDateTime& time);

// The live view: a line per device by serial number with its state and the seconds since
// it was last heard, cut to rows lines with a line saying how many more, then the status.
QString LiveViewText(const DeviceTracker& tracker, qint64 nowMs, const WatchStatus& status, int rows);

// The lines on standard error when watch ends.
QString WatchSummary(const DeviceTracker& tracker, const WatchStatus& status, const QStringList& interfaces);
