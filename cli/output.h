// The output formats of the command line: pure functions from entries to text, so that
// tests and fuzzing call them directly.
#pragma once

#include "entry.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

enum class OutputFormat { Table, Csv, Json, JsonLines };

// "table", "csv", "json", "jsonl"; false for anything else.
bool ParseOutputFormat(const QString& text, OutputFormat* format);

// A field for a terminal: control characters (C0, DEL, C1) and backslashes escaped as \xNN
// and \\, so a device's name can never move the cursor or clear the screen.
QString TerminalSafe(const QString& text);

// One RFC 4180 field: quoted when it holds a comma, a quote, CR or LF.
QString CsvField(const QString& text);
QString CsvHeader(); // ends with CRLF
QString CsvRecord(const Entry& entry); // ends with CRLF

// The JSON object of an entry; a field the answer did not carry is null.
QJsonObject EntryJson(const Entry& entry);
QByteArray JsonLine(const Entry& entry); // compact, ends with "\n"
QByteArray JsonArray(const QList<Entry>& entries); // indented, ends with "\n"

// Lines of cells in columns two blanks apart; the last column is not padded, so no line
// ends in blanks.
QString AlignedText(const QList<QStringList>& lines);

// The aligned table: a title line, then one line per entry, numbered from 1.
QString TableText(const QList<Entry>& entries);

// One device of an assignment as the command line reports it.
struct AssignRow {
    QString sn;
    std::optional<QString> oldIp; // absent when its answer carried none
    QString ip;
    QString mask;
    QString gateway;
    QString interfaceName; // empty: every chosen interface
    QString status; // "planned", "sent", "not sent", "confirmed", "not confirmed", "other address"
    std::optional<double> seconds; // from its command to its confirmation
};

QString AssignCsvHeader(); // ends with CRLF
QString AssignCsvRecord(const AssignRow& row); // ends with CRLF
QJsonObject AssignJson(const AssignRow& row);
QByteArray AssignJsonLine(const AssignRow& row);
QByteArray AssignJsonArray(const QList<AssignRow>& rows);
QString AssignTableText(const QList<AssignRow>& rows);
