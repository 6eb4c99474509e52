// devicesearch-cli assign: search, check everything, send one set-network command per
// device on the interface where it was heard, then search again until each answers with
// its new address. The steps are plain functions over the rows, so tests call them.
#pragma once

#include "addresscheck.h"
#include "assignrow.h"
#include "output.h"
#include "plan.h"
#include "search.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// What to do with a new address that another host holds.
enum class TakenAddresses { Refuse, Skip, Allow };

struct AssignRequest {
    SearchOptions search;
    OutputFormat format = OutputFormat::Table;
    bool byteOrderMark = false; // before CSV, for spreadsheets that guess the encoding
    QString planFile; // empty: a range
    QByteArray encoding; // the plan file's, when it is not UTF-8; empty: not given
    QString start;
    QString end; // empty: as long as the list of devices
    QString mask; // for a plan, the default of an empty or absent cell
    QString gateway; // empty: the address's first three octets and .1
    QStringList serials; // in the order given
    bool all = false; // every configurable device found, in serial-number order
    bool dryRun = false;
    TakenAddresses taken = TakenAddresses::Refuse;
    bool linkCheck = true; // false: only the search judges the new addresses
    double verifySeconds = 30; // 0: no confirmation
    QString logPath; // the record of every command; empty: none
};

// The plan as far as it is known before the search: from a plan file, or a range and its
// serial numbers; for --all the range alone.
struct AssignPlan {
    QList<Assignment> assignments;
    AddressRange range;
};

// What the first search heard of one serial number.
struct HeardDevice {
    bool configurable = false;
    Entry reply; // the first configurable reply: where to send and the address it had
    QSet<QString> addresses; // reported by its replies; two mean two devices share it
};

// What the first search heard.
struct SearchHeard {
    QHash<QString, HeardDevice> devices; // by serial number
    QList<Entry> entries; // every one, in order
};

void NoteHeard(SearchHeard* heard, const Entry& entry);

// The serial numbers of the configurable devices, sorted: the devices of --all.
QStringList ConfigurableSerials(const SearchHeard& heard);

// Every device of the plan must have been heard, once, with "libver"; and no new address
// may belong to a device outside the plan on the same network. The lines that say why
// not, for standard error; none when the plan passes.
QStringList CheckAgainstSearch(const QList<Assignment>& plan, const SearchHeard& heard);

// A row per device, in the plan's order, with the interface and the address it answered on.
QList<AssignRow> PlannedRows(const QList<Assignment>& plan, const SearchHeard& heard);

// An address a sent row answered with, at ms on the run's clock: true when it confirms the
// row now.
bool NoteAnswerAfterCommand(AssignRow* row, const QString& ip, qint64 ms);

// The final status of a row still sent when the wait is over, and the line that says why.
QString SettleUnconfirmed(AssignRow* row);

// The line of standard error for a new address that another host holds: refused, or
// (sent) sent all the same.
QString TakenLine(const Assignment& a, const QString& interfaceName, const AddressVerdict& v, bool sent);

// The line for count addresses of one adapter that could not be checked, and why.
// minutes: for a holder the system last saw long ago, the most recent sighting.
QString UncheckedLine(int count, const QString& interfaceName, UncheckedReason why, int minutes = 0);

// The check field of a row: free, taken, unchecked; allowed for a taken one sent anyway.
QString CheckText(const AddressVerdict& v, bool allowed);

// The last address --skip-taken may use: --end, or else .254 of the start's /24.
uint32_t SkipRangeLast(const AddressRange& range);

// Reads the plan file or the range and checks it, before any look at the network. False
// after printing why: exit status 2.
bool PlanAssign(const AssignRequest& request, AssignPlan* plan);

// The rest of the command; returns its exit status: 128 + n after stop request n.
int RunAssign(const AssignRequest& request, const AssignPlan& plan);
