#include "output.h"

#include "addressrules.h"
#include "csvrecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <cmath>

bool ParseOutputFormat(const QString& text, OutputFormat* format)
{
    static const struct {
        const char* name;
        OutputFormat format;
    } kFormats[]
        = { { "table", OutputFormat::Table }, { "csv", OutputFormat::Csv }, { "json", OutputFormat::Json },
              { "jsonl", OutputFormat::JsonLines }, { "xlsx", OutputFormat::Xlsx } };
    for (const auto& known : kFormats) {
        if (text == QLatin1String(known.name)) {
            *format = known.format;
            return true;
        }
    }
    return false;
}

QString TerminalSafe(const QString& text)
{
    QString safe;
    safe.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            safe += QStringLiteral("\\x%1").arg(u, 2, 16, QChar('0'));
        else if (c == QLatin1Char('\\'))
            safe += QStringLiteral("\\\\");
        else
            safe += c;
    }
    return safe;
}

QString CsvField(const QString& text)
{
    // Any machine on the LAN may answer with a formula for a name.
    const QString cell = NeedsFormulaGuard(text) ? QLatin1Char('\'') + text : text;
    if (!cell.contains(QLatin1Char(',')) && !cell.contains(QLatin1Char('"'))
        && !cell.contains(QLatin1Char('\r')) && !cell.contains(QLatin1Char('\n')))
        return cell;
    QString quoted = cell;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CsvLine(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& field : fields)
        quoted << CsvField(field);
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString CsvLine(const QList<OutputCell>& cells)
{
    QStringList fields;
    for (const OutputCell& cell : cells)
        fields << cell.text;
    return CsvLine(fields);
}

namespace {
QString kindName(const DeviceFields& device)
{
    return device.kind == AnswerKind::Reply ? QStringLiteral("reply") : QStringLiteral("announce");
}

QJsonValue jsonField(const std::optional<QString>& field)
{
    return field ? QJsonValue(*field) : QJsonValue(QJsonValue::Null);
}

OutputCell text(const QString& text)
{
    return { text, std::nullopt };
}

QJsonValue nullIfEmpty(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString markIf(bool byteOrderMark)
{
    return byteOrderMark ? QString(QChar(0xFEFF)) : QString();
}

QString secondsText(const std::optional<double>& seconds)
{
    return seconds ? QString::number(*seconds, 'f', 2) : QString();
}
}

template <> QStringList OutputColumns<Entry>()
{
    return { "kind", "name", "ip", "sn", "id", "configurable", "from", "interface" };
}

QList<OutputCell> OutputCells(const Entry& entry)
{
    const DeviceFields& d = entry.device;
    return { text(kindName(d)), text(d.name.value_or(QString())), text(d.ip.value_or(QString())),
        text(d.sn.value_or(QString())), text(d.id.value_or(QString())),
        text(d.configurable ? QStringLiteral("true") : QStringLiteral("false")), text(entry.from),
        text(entry.interfaceName) };
}

QString CsvHeader(bool byteOrderMark)
{
    return markIf(byteOrderMark) + CsvLine(OutputColumns<Entry>());
}

QString CsvRecord(const Entry& entry)
{
    return CsvLine(OutputCells(entry));
}

QByteArray CompactJsonLine(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray IndentedJson(const QJsonArray& array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QJsonObject ToJson(const Entry& entry)
{
    const DeviceFields& d = entry.device;
    QJsonObject object;
    object.insert("kind", kindName(d));
    object.insert("name", jsonField(d.name));
    object.insert("ip", jsonField(d.ip));
    object.insert("sn", jsonField(d.sn));
    object.insert("id", jsonField(d.id));
    object.insert("configurable", d.configurable);
    object.insert("from", entry.from);
    object.insert("interface", nullIfEmpty(entry.interfaceName));
    object.insert("t", entry.ms);
    return object;
}

QString TableText(const QList<Entry>& entries)
{
    QList<QStringList> lines { { "#", "NAME", "IP", "SERIAL", "ID", "CONFIG", "FROM", "IFACE" } };
    const auto cell = [](const std::optional<QString>& field) {
        return field ? TerminalSafe(*field) : QStringLiteral("-");
    };
    int number = 0;
    for (const Entry& entry : entries) {
        const DeviceFields& d = entry.device;
        lines.append({ QString::number(++number), cell(d.name), cell(d.ip), cell(d.sn), cell(d.id),
            d.configurable ? "yes" : "no", entry.from,
            entry.interfaceName.isEmpty() ? QStringLiteral("-") : TerminalSafe(entry.interfaceName) });
    }
    return AlignedText(lines);
}

QString AlignedText(const QList<QStringList>& lines)
{
    QVector<int> widths;
    for (const QStringList& line : lines) {
        widths.resize(std::max(widths.size(), line.size()));
        for (int i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], int(line.at(i).size()));
    }
    QString text;
    for (const QStringList& line : lines) {
        for (int i = 0; i < line.size(); ++i)
            text += i + 1 < line.size() ? line.at(i).leftJustified(widths[i] + 2) : line.at(i);
        text += QLatin1Char('\n');
    }
    return text;
}

template <> QStringList OutputColumns<AssignRow>()
{
    return { "sn", "old_ip", "ip", "mask", "gateway", "interface", "status", "seconds", "check" };
}

QList<OutputCell> OutputCells(const AssignRow& row)
{
    const Assignment& a = row.planned;
    // The number as the CSV prints it, in hundredths.
    const std::optional<double> seconds
        = row.seconds ? std::optional<double>(std::round(*row.seconds * 100) / 100) : std::nullopt;
    return { text(a.sn), text(row.oldIp.value_or(QString())), text(AddressText(a.ip)),
        text(AddressText(a.mask)), text(AddressText(a.gateway)), text(row.interfaceName),
        text(AssignStatusText(row.status)), { secondsText(row.seconds), seconds }, text(row.check) };
}

QString AssignCsvHeader(bool byteOrderMark)
{
    return markIf(byteOrderMark) + CsvLine(OutputColumns<AssignRow>());
}

QString CsvRecord(const AssignRow& row)
{
    return CsvLine(OutputCells(row));
}

QJsonObject ToJson(const AssignRow& row)
{
    const Assignment& a = row.planned;
    QJsonObject object;
    object.insert("sn", a.sn);
    object.insert("old_ip", jsonField(row.oldIp));
    object.insert("ip", AddressText(a.ip));
    object.insert("mask", AddressText(a.mask));
    object.insert("gateway", AddressText(a.gateway));
    object.insert("interface", nullIfEmpty(row.interfaceName));
    object.insert("status", AssignStatusText(row.status));
    // Hundredths, as the other formats print it.
    object.insert("seconds",
        row.seconds ? QJsonValue(std::round(*row.seconds * 100) / 100) : QJsonValue(QJsonValue::Null));
    object.insert("check", nullIfEmpty(row.check));
    return object;
}

QString TableText(const QList<AssignRow>& rows)
{
    QList<QStringList> lines { { "SERIAL", "OLD IP", "NEW IP", "MASK", "GATEWAY", "IFACE", "STATUS",
        "SECONDS" } };
    const auto orDash
        = [](const QString& text) { return text.isEmpty() ? QStringLiteral("-") : TerminalSafe(text); };
    for (const AssignRow& row : rows)
        lines.append({ TerminalSafe(row.planned.sn), orDash(row.oldIp.value_or(QString())),
            AddressText(row.planned.ip), AddressText(row.planned.mask), AddressText(row.planned.gateway),
            row.interfaceName.isEmpty() ? QStringLiteral("all") : TerminalSafe(row.interfaceName),
            AssignStatusText(row.status), orDash(secondsText(row.seconds)) });
    return AlignedText(lines);
}
