// Which device gets which settings: from a range or a plan file, and every check that
// needs no network. Plain functions, so tests and fuzzing call them directly.
#pragma once

#include "csvrecords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct Assignment {
    QString sn;
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    int line = 0; // of the plan file; 0 for a range
    bool noMask = false; // read where a missing mask is allowed: mask is 0, and it cannot be set
};

using PlanError = TextProblem;

// A plan is read whole, so a larger file is refused before it is read.
constexpr qint64 kMaxPlanBytes = 16 * 1024 * 1024;

// A CSV plan, as people and spreadsheets save it (see DecodeText and ReadCsvRecords): a
// header row naming sn and ip, maybe mask and gateway, under any of the names people give
// them (in any order; other columns are ignored, whatever they hold), then one row per
// device. Blanks around a cell are not part of it, and the apostrophe that guards a
// formula-like cell is taken off. An absent column, a cell a short row leaves out or an
// empty cell takes mask or gateway (empty when not given); the gateway's last fallback is
// the address's first three octets and .1. Checks the syntax of every row;
// CheckAssignments does the rest. encodingUsed, when given, names what the file was read as.
// A workbook (.xlsx or .ods, told by its content) is read as its first sheet's rows instead
// (see ReadWorkbookRecords); encoding does not apply to it, and errors name sheet rows.
// With MaskMissing::Allowed, a row without a mask is read as noMask instead of refused.
enum class MaskMissing { Refused, Allowed };
bool ReadPlan(const QByteArray& bytes, const TextEncoding& encoding, const QString& mask,
    const QString& gateway, QList<Assignment>* out, PlanError* error, QString* encodingUsed = nullptr,
    MaskMissing missing = MaskMissing::Refused);

// The plan in records, as ReadPlan reads them from a file: the first is the header row.
bool ReadPlanRecords(const QList<CsvFileRecord>& records, const QString& mask, const QString& gateway,
    QList<Assignment>* out, PlanError* error, MaskMissing missing = MaskMissing::Refused);

// What a plan file's reading needs besides its name.
struct PlanFileOptions {
    QByteArray encoding; // of a CSV that is not UTF-8; empty: UTF-8, else the system's code page
    QString mask; // the default of an empty or absent cell
    QString gateway;
    MaskMissing missing = MaskMissing::Refused;
};

// The plan file at path, read whole (a larger file than kMaxPlanBytes is refused before) and
// checked with CheckAssignments. A problem of the whole file has line 0 and names the file.
// codePage, when given, is set to the system's code page when a CSV was read in it, whether
// the checks pass or not.
bool ReadPlanFile(const QString& path, const PlanFileOptions& options, QList<Assignment>* out,
    PlanError* error, QString* codePage = nullptr);

// A range's addresses as read from the command line.
struct AddressRange {
    uint32_t start = 0;
    std::optional<uint32_t> end; // absent: as long as the list of devices
    uint32_t mask = 0;
    std::optional<uint32_t> gateway; // absent: each address's default
};

// The syntax of the range's addresses, before the devices are known. Texts as given on
// the command line; end and gateway may be empty.
bool ReadAddressRange(const QString& start, const QString& end, const QString& mask, const QString& gateway,
    AddressRange* range, PlanError* error);

// The range: the k-th serial number gets start + k. Applies the window's rules to start and
// end (or the last address when there is no end) and checks that the range holds every
// serial number.
bool RangeAssignments(
    const AddressRange& range, const QStringList& serials, QList<Assignment>* out, PlanError* error);

// Each device's settings, then no serial number and no new address twice, then that each
// command fits in one frame; the first failure, in list order.
bool CheckAssignments(const QList<Assignment>& assignments, PlanError* error);

// The set-network DeviceFrame for an assignment, as the window sends it; empty when the
// command does not fit in one frame.
QByteArray AssignmentFrame(const Assignment& assignment);

// A serial number for a message: control characters escaped, at most 40 characters.
QString SerialForMessage(const QString& sn);
