#include "plan.h"

#include "addressrules.h"
#include "deviceframe.h"
#include "netsetjson.h"
#include "output.h"
#include "workbookreader.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {
bool fail(PlanError* error, int line, const QString& text)
{
    *error = { line, text };
    return false;
}

QString net(uint32_t ip, uint32_t mask)
{
    return QStringLiteral("%1/%2").arg(AddressText(ip & mask)).arg(MaskPrefix(mask));
}

QString settingsText(SettingsProblem problem, const Assignment& a)
{
    const QString ip = AddressText(a.ip), gw = AddressText(a.gateway);
    switch (problem) {
    case SettingsProblem::MaskNotContiguous:
        return QStringLiteral("mask %1 is not contiguous").arg(AddressText(a.mask));
    case SettingsProblem::MaskEmpty:
        return QStringLiteral("mask 0.0.0.0 leaves no network");
    case SettingsProblem::AddressNotUnicast:
        return QStringLiteral("%1 cannot be a device's address (0.x.x.x, loopback, multicast or reserved)")
            .arg(ip);
    case SettingsProblem::NetworkAddress:
        return QStringLiteral("%1 is the network address of %2").arg(ip, net(a.ip, a.mask));
    case SettingsProblem::BroadcastAddress:
        return QStringLiteral("%1 is the broadcast address of %2").arg(ip, net(a.ip, a.mask));
    case SettingsProblem::GatewayNotUnicast:
        return QStringLiteral("gateway %1 cannot be a gateway (0.x.x.x, loopback, multicast or reserved)")
            .arg(gw);
    case SettingsProblem::GatewayOutsideSubnet:
        return QStringLiteral("gateway %1 is outside %2's subnet %3").arg(gw, ip, net(a.ip, a.mask));
    case SettingsProblem::GatewayIsAddress:
        return QStringLiteral("gateway %1 is the device's own new address").arg(gw);
    case SettingsProblem::GatewayNetworkOrBroadcast:
        return QStringLiteral("gateway %1 is the network or broadcast address of %2")
            .arg(gw, net(a.ip, a.mask));
    case SettingsProblem::None:
        break;
    }
    return QString();
}

// An address option or cell, read once: its value, or why it is none.
struct ParsedAddress {
    QString text;
    uint32_t value = 0;
    QString problem;
};

ParsedAddress readAddress(const QString& text)
{
    ParsedAddress address { text, 0, QString() };
    address.problem = DottedAddressProblem(text, &address.value);
    return address;
}

// The value, or the error "name 'text': why" on the line given.
bool take(const char* name, const ParsedAddress& address, int line, uint32_t* value, PlanError* error)
{
    if (address.problem.isEmpty()) {
        *value = address.value;
        return true;
    }
    return fail(error, line,
        QStringLiteral("%1 '%2' is not a plain dotted IPv4 address: %3")
            .arg(name, TerminalSafe(address.text.left(64)), TerminalSafe(address.problem)));
}

// The names a header cell may give a column, compared as ColumnKey makes them.
struct ColumnNames {
    const char* column;
    QStringList names;
    const char* shown; // for the message when the column is missing
};

const QList<ColumnNames>& columnNames()
{
    static const QList<ColumnNames> kNames {
        { "sn", { "sn", "serial", "serialnumber", QStringLiteral("序列号") },
            "sn, serial, serial number or 序列号" },
        { "ip", { "ip", "ipaddress", QStringLiteral("ip地址") }, "ip, IP address, new IP or IP地址" },
        { "mask", { "mask", "netmask", "subnetmask", QStringLiteral("子网掩码") },
            "mask, netmask, subnet mask or 子网掩码" },
        { "gateway",
            { "gateway", "gw", "defaultgateway", QStringLiteral("网关"), QStringLiteral("网关地址") },
            "gateway, gw, default gateway, 网关 or 网关地址" },
        // A search's list names each answer's kind: an announcement repeats a device the list
        // names by its reply, and cannot be configured.
        { "kind", { "kind" }, "kind" },
    };
    return kNames;
}

// A header cell as people vary it: case, blanks, hyphens and underscores do not count.
QString columnKey(const QString& cell)
{
    QString key;
    for (const QChar c : cell.toLower()) {
        if (!c.isSpace() && c != QLatin1Char('-') && c != QLatin1Char('_'))
            key += c;
    }
    return key;
}

// The column a header cell names, or empty; "new ..." beats the plain name, so that a
// search's CSV keeps its ip column for the old address when a "new ip" column is added.
QString columnOf(const QString& cell, bool* preferred)
{
    QString key = columnKey(cell);
    *preferred = key.startsWith(QLatin1String("new"));
    if (*preferred)
        key.remove(0, 3);
    for (const ColumnNames& names : columnNames()) {
        if (names.names.contains(key) && (!*preferred || qstrcmp(names.column, "sn") != 0))
            return QString::fromLatin1(names.column);
    }
    return QString();
}

// A header row's columns: where each is, and whether a "new ..." name gave it.
struct Columns {
    QHash<QString, int> at;
    QHash<QString, bool> preferred;
};

// The columns the header row names, by name.
bool readHeader(const CsvFileRecord& header, QHash<QString, int>* columns, PlanError* error)
{
    Columns found;
    for (int i = 0; i < header.fields.size(); ++i) {
        bool preferred = false;
        const QString column = columnOf(header.fields.at(i), &preferred);
        if (column.isEmpty() || (found.at.contains(column) && found.preferred.value(column) && !preferred))
            continue;
        if (found.at.contains(column) && found.preferred.value(column) == preferred)
            return fail(error, header.line,
                QStringLiteral("column %1 appears twice ('%2' and '%3')")
                    .arg(column, TerminalSafe(header.fields.at(found.at.value(column)).trimmed().left(40)),
                        TerminalSafe(header.fields.at(i).trimmed().left(40))));
        found.at.insert(column, i);
        found.preferred.insert(column, preferred);
    }
    for (const ColumnNames& names : columnNames().mid(0, 2)) {
        if (!found.at.contains(names.column))
            return fail(error, header.line,
                QStringLiteral("no %1 column; the header row must name sn and ip (%1 may be headed %2, "
                               "in any case, with or without blanks, - and _)")
                    .arg(QLatin1String(names.column), QString::fromUtf8(names.shown)));
    }
    *columns = found.at;
    return true;
}

// The first problem of a field the plan reads: its quoting, or a cell past the header's.
bool checkFields(const CsvFileRecord& record, const QHash<QString, int>& columns, int width, PlanError* error)
{
    for (const FieldProblem& problem : record.problems) {
        for (auto it = columns.cbegin(); it != columns.cend(); ++it) {
            if (it.value() == problem.field)
                return fail(error, problem.line, QStringLiteral("%1: %2").arg(it.key(), problem.text));
        }
    }
    // Spreadsheets leave out empty cells at a row's end, but a cell beyond the header's
    // means the columns may have shifted.
    for (int i = width; i < record.fields.size(); ++i) {
        if (!record.fields.at(i).trimmed().isEmpty())
            return fail(error, record.line,
                QStringLiteral("%1 fields, but the header row has %2").arg(record.fields.size()).arg(width));
    }
    return true;
}

bool readWhole(const QString& name, QByteArray* bytes, QString* why)
{
    QFile file(name);
    if (QFileInfo(name).isDir() || !file.open(QIODevice::ReadOnly)) {
        *why = QFileInfo(name).isDir() ? QStringLiteral("is a folder") : file.errorString();
        return false;
    }
    // Read in pieces, so that a pipe or a device without a size ends too.
    while (!file.atEnd() || file.isSequential()) {
        const QByteArray piece = file.read(1 << 20);
        if (piece.isEmpty())
            break;
        bytes->append(piece);
        if (bytes->size() > kMaxPlanBytes) {
            *why = QStringLiteral("larger than %1 MiB: not a plan").arg(kMaxPlanBytes >> 20);
            return false;
        }
    }
    return true;
}

// What a row takes where its cell is empty or absent: the --mask and --gateway options.
struct PlanDefaults {
    ParsedAddress mask;
    ParsedAddress gateway;
    MaskMissing missing = MaskMissing::Refused;
};

bool readRow(const CsvFileRecord& record, const QHash<QString, int>& columns, const PlanDefaults& defaults,
    Assignment* a, PlanError* error)
{
    const auto cell = [&](const char* name) {
        const QString field = record.fields.value(columns.value(name, -1));
        // A cell that a writer guarded against spreadsheets is the text after the guard.
        const QString text = WithoutFormulaGuard(field);
        return text.size() < field.size() ? text : field.trimmed();
    };
    const int line = a->line = record.line;
    a->sn = cell("sn");
    if (a->sn.isEmpty())
        return fail(error, line, QStringLiteral("empty sn"));
    const QString ip = cell("ip");
    if (ip.isEmpty())
        return fail(error, line, QStringLiteral("empty ip"));
    if (!take("ip", readAddress(ip), line, &a->ip, error))
        return false;
    const QString mask = cell("mask");
    if (mask.isEmpty() && defaults.mask.text.isEmpty()) {
        if (defaults.missing == MaskMissing::Refused)
            return fail(
                error, line, QStringLiteral("no mask: the mask cell is empty and --mask is not given"));
        a->noMask = true;
    } else if (!take("mask", mask.isEmpty() ? defaults.mask : readAddress(mask), line, &a->mask, error))
        return false;
    const QString gateway = cell("gateway");
    if (gateway.isEmpty() && defaults.gateway.text.isEmpty()) {
        a->gateway = DefaultGatewayAddress(a->ip);
        return true;
    }
    return take(
        "gateway", gateway.isEmpty() ? defaults.gateway : readAddress(gateway), line, &a->gateway, error);
}

// The last address of a range: its end, or as far as the devices reach from its start.
bool rangeLast(const AddressRange& range, qint64 count, uint32_t* last, PlanError* error)
{
    if (range.end) {
        *last = *range.end;
        return true;
    }
    const quint64 computed = quint64(range.start) + quint64(count > 0 ? count - 1 : 0);
    if (computed > 0xFFFFFFFFull)
        return fail(error, 0,
            QStringLiteral("%1 devices from --start %2 run past 255.255.255.255")
                .arg(count)
                .arg(AddressText(range.start)));
    *last = uint32_t(computed);
    return true;
}

// The window's rules for start and last; empty when they hold.
QString rangeProblem(const AddressRange& range, uint32_t last, qint64 count)
{
    const QString start = AddressText(range.start), lastText = AddressText(last);
    const QString end = range.end ? lastText : QString();
    // A one-address range is start alone, as the window checks a single device.
    switch (CheckAddressRange(range.start, last, last != range.start)) {
    case RangeProblem::DifferentSegment:
        return end.isEmpty()
            ? QStringLiteral("%1 devices from --start %2 end at %3, outside its /24")
                  .arg(count)
                  .arg(start, lastText)
            : QStringLiteral("--start %1 and --end %2 are not in the same /24").arg(start, end);
    case RangeProblem::StartNotBelowEnd:
        return QStringLiteral("--start %1 is not below --end %2").arg(start, end);
    case RangeProblem::LastOctet255:
        return QStringLiteral("%1 ends in .255")
            .arg((range.start & 0xFF) == 0xFF ? QStringLiteral("--start ") + start
                    : end.isEmpty()           ? QStringLiteral("the last address %1").arg(lastText)
                                              : QStringLiteral("--end ") + end);
    case RangeProblem::None:
        break;
    }
    const qint64 size = qint64(last) - qint64(range.start) + 1;
    if (size < count)
        return QStringLiteral("the range %1 to %2 holds %3 addresses, but there are %4 devices")
            .arg(start, end)
            .arg(size)
            .arg(count);
    return QString();
}
}

bool ReadPlanFile(const QString& path, const PlanFileOptions& options, QList<Assignment>* out,
    PlanError* error, QString* codePage)
{
    QByteArray bytes;
    QString why;
    if (!readWhole(path, &bytes, &why))
        return fail(error, 0, QStringLiteral("%1: %2").arg(path, why));
    const TextEncoding encoding { options.encoding, SystemCodePage() };
    QString used;
    if (!ReadPlan(bytes, encoding, options.mask, options.gateway, out, error, &used, options.missing)) {
        // A problem of the whole file (a workbook's) names the file, as one of a row does.
        if (error->line == 0)
            error->text = QStringLiteral("%1: %2").arg(path, error->text);
        return false;
    }
    if (codePage && options.encoding.isEmpty() && !encoding.fallback.isEmpty()
        && used == QString::fromLatin1(encoding.fallback))
        *codePage = used; // even when the checks refuse the plan
    return CheckAssignments(*out, error);
}

QString SerialForMessage(const QString& sn)
{
    return TerminalSafe(sn.size() > 40 ? sn.left(40) + QStringLiteral("...") : sn);
}

bool ReadPlan(const QByteArray& bytes, const TextEncoding& encoding, const QString& mask,
    const QString& gateway, QList<Assignment>* out, PlanError* error, QString* encodingUsed,
    MaskMissing missing)
{
    out->clear();
    if (bytes.isEmpty())
        return fail(
            error, 1, QStringLiteral("the file is empty; its first line must name the columns sn and ip"));
    QList<CsvFileRecord> records;
    if (IsWorkbookContainer(bytes)) {
        if (!ReadWorkbookRecords(bytes, &records, error))
            return false;
        if (records.isEmpty())
            return fail(error, 0,
                QStringLiteral("the first sheet is empty; its first row must name the columns sn and ip"));
        return ReadPlanRecords(records, mask, gateway, out, error, missing);
    }
    QString text, used;
    if (!DecodeText(bytes, encoding, &text, &used, error) || !ReadCsvRecords(text, &records, error))
        return false;
    if (encodingUsed)
        *encodingUsed = used;
    return ReadPlanRecords(records, mask, gateway, out, error, missing);
}

bool ReadPlanRecords(const QList<CsvFileRecord>& records, const QString& mask, const QString& gateway,
    QList<Assignment>* out, PlanError* error, MaskMissing missing)
{
    out->clear();
    if (records.isEmpty())
        return fail(
            error, 1, QStringLiteral("no header row; the first line must name the columns sn and ip"));
    QHash<QString, int> columns;
    const int width = records.first().fields.size();
    if (!readHeader(records.first(), &columns, error) || !checkFields(records.first(), columns, width, error))
        return false;
    if (records.size() == 1)
        return fail(error, records.first().line, QStringLiteral("a header row and no device"));

    const PlanDefaults defaults { readAddress(mask), readAddress(gateway), missing };
    for (int r = 1; r < records.size(); ++r) {
        const CsvFileRecord& record = records.at(r);
        Assignment a;
        if (!checkFields(record, columns, width, error))
            return false;
        if (record.fields.value(columns.value("kind", -1)).trimmed() == QLatin1String("announce"))
            continue;
        if (!readRow(record, columns, defaults, &a, error))
            return false;
        out->append(a);
    }
    if (out->isEmpty())
        return fail(
            error, records.first().line, QStringLiteral("every row is of kind announce: no device to set"));
    return true;
}

bool ReadAddressRange(const QString& start, const QString& end, const QString& mask, const QString& gateway,
    AddressRange* range, PlanError* error)
{
    if (!take("--start", readAddress(start), 0, &range->start, error))
        return false;
    uint32_t value = 0;
    if (!end.isEmpty() && !take("--end", readAddress(end), 0, &value, error))
        return false;
    range->end = end.isEmpty() ? std::nullopt : std::optional<uint32_t>(value);
    if (!take("--mask", readAddress(mask), 0, &range->mask, error))
        return false;
    if (!gateway.isEmpty() && !take("--gateway", readAddress(gateway), 0, &value, error))
        return false;
    range->gateway = gateway.isEmpty() ? std::nullopt : std::optional<uint32_t>(value);
    return true;
}

bool RangeAssignments(
    const AddressRange& range, const QStringList& serials, QList<Assignment>* out, PlanError* error)
{
    out->clear();
    uint32_t last = 0;
    if (!rangeLast(range, serials.size(), &last, error))
        return false;
    const QString problem = rangeProblem(range, last, serials.size());
    if (!problem.isEmpty())
        return fail(error, 0, problem);
    for (int k = 0; k < serials.size(); ++k) {
        const uint32_t ip = range.start + uint32_t(k);
        out->append({ serials.at(k), ip, range.mask, range.gateway.value_or(DefaultGatewayAddress(ip)), 0 });
    }
    return true;
}

bool CheckAssignments(const QList<Assignment>& assignments, PlanError* error)
{
    QHash<QString, int> serials; // to the index of the first
    QHash<uint32_t, int> addresses;
    for (int i = 0; i < assignments.size(); ++i) {
        const Assignment& a = assignments.at(i);
        // A row without a mask is never sent, so its settings cannot be judged as a whole.
        const SettingsProblem problem
            = a.noMask ? SettingsProblem::None : CheckNetworkSettings(a.ip, a.mask, a.gateway);
        if (problem != SettingsProblem::None)
            return fail(error, a.line,
                a.line > 0
                    ? settingsText(problem, a)
                    : QStringLiteral("%1 (for %2)").arg(settingsText(problem, a), SerialForMessage(a.sn)));
        if (a.sn.contains(QChar(0)))
            return fail(
                error, a.line, QStringLiteral("serial number %1 holds a NUL").arg(SerialForMessage(a.sn)));
        if (serials.contains(a.sn)) {
            const int other = assignments.at(serials.value(a.sn)).line;
            return fail(error, a.line,
                other > 0 ? QStringLiteral("serial number %1 appears twice (also on line %2)")
                                .arg(SerialForMessage(a.sn))
                                .arg(other)
                          : QStringLiteral("serial number %1 is given twice").arg(SerialForMessage(a.sn)));
        }
        serials.insert(a.sn, i);
        if (addresses.contains(a.ip)) {
            const Assignment& other = assignments.at(addresses.value(a.ip));
            return fail(error, a.line,
                QStringLiteral("address %1 appears twice (also for %2%3)")
                    .arg(AddressText(a.ip), SerialForMessage(other.sn),
                        other.line > 0 ? QStringLiteral(" on line %1").arg(other.line) : QString()));
        }
        addresses.insert(a.ip, i);
        if (AssignmentFrame(a).isEmpty())
            return fail(error, a.line,
                QStringLiteral("the command for serial number %1 does not fit in one frame")
                    .arg(SerialForMessage(a.sn)));
    }
    return true;
}

QByteArray AssignmentFrame(const Assignment& assignment)
{
    const QByteArray text = BatchNetSetJson(assignment.sn.toUtf8(), AddressText(assignment.ip).toLatin1(),
        AddressText(assignment.mask).toLatin1(), AddressText(assignment.gateway).toLatin1());
    if (text.isEmpty())
        return QByteArray();
    unsigned char frame[kFrameBufferSize];
    const int length = BuildDeviceFrame(frame, kSetNetworkCommand, ProgramSenderId, text.constData());
    return length > 0 ? QByteArray(reinterpret_cast<const char*>(frame), length) : QByteArray();
}
