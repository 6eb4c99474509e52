// The output formats of the command line: pure functions from entries to text, so that
// tests and fuzzing call them directly.
#pragma once

#include "assignrow.h"
#include "entry.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

enum class OutputFormat { Table, Csv, Json, JsonLines, Xlsx };

// "table", "csv", "json", "jsonl", "xlsx"; false for anything else.
bool ParseOutputFormat(const QString& text, OutputFormat* format);

// A field for a terminal: control characters (C0, DEL, C1) and backslashes escaped as \xNN
// and \\, so a device's name can never move the cursor or clear the screen.
QString TerminalSafe(const QString& text);

// One RFC 4180 field: an apostrophe before a text a spreadsheet would run as a formula
// (NeedsFormulaGuard), then quoted when it holds a comma, a quote, CR or LF.
QString CsvField(const QString& text);
QString CsvHeader(bool byteOrderMark = false); // ends with CRLF
QString CsvRecord(const Entry& entry); // ends with CRLF

// The columns of the CSV and the workbook, and one row's cells as heard: every cell is
// text but the seconds, which are a number where there are any.
struct OutputCell {
    QString text;
    std::optional<double> number;
};

// One CSV line of fields or of cells' texts, ending with CRLF.
QString CsvLine(const QStringList& fields);
QString CsvLine(const QList<OutputCell>& cells);
template <typename Row> QStringList OutputColumns();
template <> QStringList OutputColumns<Entry>();
template <> QStringList OutputColumns<AssignRow>();
QList<OutputCell> OutputCells(const Entry& entry);
QList<OutputCell> OutputCells(const AssignRow& row);

// The JSON object of an entry or a row; a field the answer did not carry is null.
QJsonObject ToJson(const Entry& entry);
QJsonObject ToJson(const AssignRow& row);
QByteArray CompactJsonLine(const QJsonObject& object); // ends with "\n"
QByteArray IndentedJson(const QJsonArray& array); // ends with "\n"

// An entry or a row as one compact line.
template <typename Row> QByteArray JsonLine(const Row& row)
{
    return CompactJsonLine(ToJson(row));
}

// Entries or rows as one indented array.
template <typename Row> QByteArray JsonArray(const QList<Row>& rows)
{
    QJsonArray array;
    for (const Row& row : rows)
        array.append(ToJson(row));
    return IndentedJson(array);
}

// Lines of cells in columns two blanks apart; the last column is not padded, so no line
// ends in blanks.
QString AlignedText(const QList<QStringList>& lines);

// The aligned table: a title line, then one line per entry, numbered from 1.
QString TableText(const QList<Entry>& entries);

// An assignment's rows: the same formats, a row per device.
QString AssignCsvHeader(bool byteOrderMark = false); // ends with CRLF
QString CsvRecord(const AssignRow& row); // ends with CRLF
QString TableText(const QList<AssignRow>& rows); // a title line, then a line per row
